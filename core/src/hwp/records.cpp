#include "hwp/records.h"

#include <algorithm>
#include <memory>

namespace paravox {

namespace {

// Sections up to this size get a list with room for the most records they could hold, four
// times the section's size at most.
constexpr std::size_t kSmallSection = 64 * 1024;

}  // namespace

RecordList parse_records(Bytes section) {
  // A record takes at least its 4-byte header.
  const std::size_t most = section.size() / 4;
  if (most == 0) return RecordList();
  // A small section gets room for the most records it could hold. A larger one starts with
  // room for one record per 32 bytes (real documents average about 35) and doubles when that
  // runs out; past 2 MiB the list is mapped, so untouched room costs address space only and
  // growth remaps pages rather than copying records. The list lives only while its section
  // is walked, so it keeps that room rather than give it back.
  std::size_t capacity = section.size() <= kSmallSection ? most : section.size() / 32;
  RecordList list;
  list.records_ = static_cast<Record*>(allocate_block(capacity * sizeof(Record)));
  list.capacity_ = capacity;
  // Records are trivially copyable: the storage is filled by plain stores, the count kept
  // in a local so that the loop does not write it back at every record.
  Record* records = list.records_;
  std::size_t count = 0;
  if (capacity == most) {
    // Room for every record there can be: a loop without growth.
    list.whole_size_ =
        for_each_record(section, [&](std::uint16_t tag_id, std::uint16_t level, Bytes payload) {
          if (count < capacity) std::construct_at(records + count++, tag_id, level, payload);
        });
  } else {
    list.whole_size_ =
        for_each_record(section, [&](std::uint16_t tag_id, std::uint16_t level, Bytes payload) {
          if (count == capacity) [[unlikely]] {
            // Below `most` here: `most` records would leave no room for another header.
            const std::size_t grown = std::min(2 * capacity, most);
            if (grown <= capacity) return;
            records = static_cast<Record*>(
                resize_block(records, capacity * sizeof(Record), grown * sizeof(Record)));
            list.records_ = records;
            list.capacity_ = capacity = grown;
          }
          std::construct_at(records + count++, tag_id, level, payload);
        });
  }
  list.size_ = count;
  return list;
}

}  // namespace paravox
