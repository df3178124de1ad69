#include "hwp/field_controls.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "document/text.h"
#include "hwp/text.h"

namespace paravox {
namespace {

constexpr std::size_t kCommandOffset = 11;
// CTRL_DATA: 10 bytes not read, u16 name length in code units, then the name.
constexpr std::size_t kFieldNameLengthOffset = 10;
constexpr std::size_t kFieldNameOffset = 12;
constexpr std::uint8_t kClickHereExtraProperty = 9;

}  // namespace

std::optional<ClickHereHeader> read_click_here_header(Bytes payload) {
  if (payload.size() <= 10 || payload[8] != kClickHereExtraProperty) return std::nullopt;
  const std::size_t command_units = *u16_at(payload, 9);
  ByteCursor cursor(payload.subspan(kCommandOffset));
  const std::optional<Bytes> command = cursor.take(2 * command_units);
  if (!command) return std::nullopt;

  ClickHereHeader header;
  header.modified = (payload[5] & 0x80) != 0;  // bit 15 of the property word at offset 4
  header.direction = guide_text(*command).value_or(std::string());
  return header;
}

std::string read_field_name(Records records, std::size_t& cursor, std::uint16_t expected_level) {
  if (cursor >= records.size()) return {};
  const Record& record = records[cursor];
  if (record.tag_id != tag::kCtrlData || record.level != expected_level) return {};
  ++cursor;
  // A payload too short for the length word still consumes the record, with an empty name.
  const auto units = u16_at(record.data(), kFieldNameLengthOffset);
  if (!units) return {};
  // A length asking for more than the payload holds is cut at its end, on a whole unit.
  std::size_t name_bytes =
      std::min(std::size_t{*units} * 2, record.data().size() - kFieldNameOffset);
  name_bytes &= ~std::size_t{1};
  return decode_utf16_strict(record.data().subspan(kFieldNameOffset, name_bytes)).value_or("");
}

std::size_t attach_click_here_field(Records records, std::size_t at, PendingParagraph& paragraph) {
  const Record& header_record = records[at];
  std::optional<ClickHereHeader> header = read_click_here_header(header_record.data());
  std::size_t next = at + 1;
  FieldInfo field;
  field.name = read_field_name(records, next, static_cast<std::uint16_t>(header_record.level + 1));
  if (header) {
    field.direction = std::move(header->direction);
    field.modified = header->modified;
  }
  paragraph.field_infos.push_back(std::move(field));
  return next;
}

}  // namespace paravox
