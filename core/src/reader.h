// Splits a body section's bytes into tagged records.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "byte_cursor.h"
#include "large_memory.h"

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

// A section's records, addressed by index.
using Records = std::span<const Record>;

// The records split from one section; as large as the section itself, give or take.
using RecordList = std::vector<Record, LargeBlockAllocator<Record>>;

// Record tags compared by the conversion (published HWP 5.0 numbers).
namespace tag {
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

// Splits `section` into records in stream order. Never fails: a header or payload cut
// short by the end of the bytes ends the list, and that last record is dropped.
RecordList parse_records(Bytes section);

}  // namespace paravox
