#include "reader.h"

#include <memory>

namespace paravox {

namespace {

// Sections up to this size are split in one pass into a list with room for the most records
// they could hold (6 times the section's size at most).
constexpr std::size_t kSmallSection = 64 * 1024;

// Calls `emit(tag_id, level, payload)` for each complete record of `section` in order,
// stopping at the first header or payload cut short.
template <class Emit>
void split_records(Bytes section, Emit&& emit) {
  ByteCursor cursor(section);
  while (cursor.remaining() >= 4) {
    const std::uint32_t header = *cursor.read_u32();
    const auto tag_id = static_cast<std::uint16_t>(header & 0x3FF);
    const auto level = static_cast<std::uint16_t>((header >> 10) & 0x3FF);
    std::uint32_t size = header >> 20;
    // A 12-bit size of 0xFFF announces a 32-bit size word after the header.
    if (size == 0xFFF) {
      const auto extended = cursor.read_u32();
      if (!extended) break;
      size = *extended;
    }
    const auto payload = cursor.take(size);
    if (!payload) break;
    emit(tag_id, level, *payload);
  }
}

}  // namespace

RecordList parse_records(Bytes section) {
  std::size_t capacity = 0;
  if (section.size() <= kSmallSection) {
    // Room for as many records as the bytes can hold, at 4 bytes each: one pass, and a list
    // that lives only while its section is walked.
    capacity = section.size() / 4;
  } else {
    // Counting first, a hop over the headers, spares a large list any spare capacity.
    split_records(section, [&capacity](std::uint16_t, std::uint16_t, Bytes) { ++capacity; });
  }
  RecordList list;
  if (capacity == 0) return list;
  // Records are trivially copyable: the storage is filled by plain stores, kept in
  // locals so that the loop does not write the count back at every record.
  Record* const records = static_cast<Record*>(allocate_block(capacity * sizeof(Record)));
  list.records_ = records;
  list.capacity_ = capacity;
  std::size_t count = 0;
  split_records(section, [&](std::uint16_t tag_id, std::uint16_t level, Bytes payload) {
    // Never false (a record takes at least 4 bytes); it keeps the stores inside the block.
    if (count < capacity) std::construct_at(records + count++, tag_id, level, payload);
  });
  list.size_ = count;
  return list;
}

}  // namespace paravox
