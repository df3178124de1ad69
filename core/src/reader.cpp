#include "reader.h"

namespace paravox {

std::vector<Record> parse_records(Bytes section) {
  std::vector<Record> records;
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
    records.push_back(Record{tag_id, level, *payload});
  }
  return records;
}

}  // namespace paravox
