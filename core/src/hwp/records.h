// Splits a body section's bytes into tagged records.
#pragma once

#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>

#include "base/byte_cursor.h"
#include "base/large_memory.h"

namespace paravox {

// One record of a section stream. Its payload views the section bytes, which must outlive
// the record list; records are never modified after splitting. Sixteen bytes: a 100 MB
// section splits into millions of them.
class Record {
 public:
  std::uint16_t tag_id = 0;  // 0..1023
  std::uint16_t level = 0;   // 0..1023, nesting depth in the document tree

  Record() noexcept = default;
  // `payload` is at most 0xFFFFFFFF bytes, the largest size a record header can declare.
  Record(std::uint16_t tag, std::uint16_t depth, Bytes payload) noexcept
      : tag_id(tag),
        level(depth),
        size_(static_cast<std::uint32_t>(payload.size())),
        payload_(payload.data()) {}

  Bytes data() const noexcept { return {payload_, size_}; }
  std::uint64_t size() const noexcept { return size_; }

 private:
  std::uint32_t size_ = 0;
  const std::uint8_t* payload_ = nullptr;
};
static_assert(sizeof(Record) == 16);
// A RecordList fills its storage with plain stores and never runs destructors.
static_assert(std::is_trivially_copyable_v<Record> && std::is_trivially_destructible_v<Record>);

// A section's records, addressed by index.
using Records = std::span<const Record>;

// The records split from one section, which may be as large as the section itself; its
// storage comes from large_memory.h. Move-only.
class RecordList {
 public:
  RecordList() noexcept = default;
  RecordList(RecordList&& other) noexcept
      : records_(std::exchange(other.records_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)),
        whole_size_(std::exchange(other.whole_size_, 0)) {}
  RecordList& operator=(RecordList&& other) noexcept {
    RecordList(std::move(other)).swap(*this);
    return *this;
  }
  RecordList(const RecordList&) = delete;
  RecordList& operator=(const RecordList&) = delete;
  ~RecordList() { release_block(records_, capacity_ * sizeof(Record)); }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  // The bytes from the section's start that its records take: less than the section's size
  // when its last record is cut short.
  std::size_t whole_size() const noexcept { return whole_size_; }
  const Record& operator[](std::size_t i) const noexcept { return records_[i]; }
  const Record* begin() const noexcept { return records_; }
  const Record* end() const noexcept { return records_ + size_; }
  operator Records() const noexcept { return {records_, size_}; }

  void swap(RecordList& other) noexcept {
    std::swap(records_, other.records_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(whole_size_, other.whole_size_);
  }

 private:
  friend RecordList parse_records(Bytes section);

  Record* records_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t whole_size_ = 0;
};

// Record tags compared by the conversion (published HWP 5.0 numbers).
namespace tag {
// DocInfo
inline constexpr std::uint16_t kBinData = 18;
inline constexpr std::uint16_t kNumbering = 23;
inline constexpr std::uint16_t kBullet = 24;
inline constexpr std::uint16_t kParaShape = 25;
inline constexpr std::uint16_t kStyle = 26;
// Sections
inline constexpr std::uint16_t kParaHeader = 66;
inline constexpr std::uint16_t kParaText = 67;
inline constexpr std::uint16_t kCtrlHeader = 71;
inline constexpr std::uint16_t kListHeader = 72;
inline constexpr std::uint16_t kShapeComponent = 76;
inline constexpr std::uint16_t kTable = 77;
inline constexpr std::uint16_t kShapeComponentPicture = 85;
inline constexpr std::uint16_t kCtrlData = 87;
inline constexpr std::uint16_t kEqEdit = 88;
}  // namespace tag

// Calls `emit(tag_id, level, payload)` for each record of `section` in stream order and
// returns how many bytes from its start those records take. Never fails: a header or
// payload cut short by the end of the bytes ends the walk, that last record is not emitted,
// and the size returned is less than the section's.
template <class Emit>
std::size_t for_each_record(Bytes section, Emit&& emit) {
  ByteCursor cursor(section);
  while (cursor.remaining() >= 4) {
    const std::size_t left_before = cursor.remaining();
    const std::uint32_t header = *cursor.read_u32();
    const auto tag_id = static_cast<std::uint16_t>(header & 0x3FF);
    const auto level = static_cast<std::uint16_t>((header >> 10) & 0x3FF);
    std::uint32_t size = header >> 20;
    // A 12-bit size of 0xFFF announces a 32-bit size word after the header.
    if (size == 0xFFF) {
      const auto extended = cursor.read_u32();
      if (!extended) return section.size() - left_before;
      size = *extended;
    }
    const auto payload = cursor.take(size);
    if (!payload) return section.size() - left_before;
    emit(tag_id, level, *payload);
  }
  return section.size() - cursor.remaining();
}

// The records of `section`, as for_each_record walks them.
RecordList parse_records(Bytes section);

}  // namespace paravox
