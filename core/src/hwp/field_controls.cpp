#include "hwp/field_controls.h"

#include <algorithm>
#include <string_view>

#include "hwp/text.h"

namespace paravox {
namespace {

constexpr std::size_t kCommandOffset = 11;
constexpr std::uint8_t kClickHereExtraProperty = 9;
constexpr std::u16string_view kDirectionKey = u"Direction:wstring:";

std::uint16_t unit_at(Bytes units, std::size_t index) noexcept {
  return ByteCursor::load_u16(units, 2 * index);
}

// First unit index at which `key` occurs in `command`, or nothing.
std::optional<std::size_t> find_units(Bytes command, std::u16string_view key) noexcept {
  const std::size_t units = command.size() / 2;
  if (units < key.size()) return std::nullopt;
  for (std::size_t start = 0; start + key.size() <= units; ++start) {
    std::size_t matched = 0;
    while (matched < key.size() && unit_at(command, start + matched) == key[matched]) ++matched;
    if (matched == key.size()) return start;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> guide_text(Bytes command) {
  const std::size_t units = command.size() / 2;
  const std::optional<std::size_t> key_at = find_units(command, kDirectionKey);
  if (!key_at) return std::nullopt;

  const std::size_t digits_begin = *key_at + kDirectionKey.size();
  std::size_t colon = digits_begin;
  std::size_t length = 0;
  while (colon < units) {
    const std::uint16_t u = unit_at(command, colon);
    if (u < u'0' || u > u'9') break;
    // A length past the command's end takes the rest; capping it at `units` keeps any
    // number of digits from overflowing.
    length = std::min<std::size_t>(length * 10 + (u - u'0'), units);
    ++colon;
  }
  if (colon == digits_begin || colon == units || unit_at(command, colon) != u':') {
    return std::nullopt;
  }
  const std::size_t text_begin = colon + 1;
  const std::size_t text_units = std::min(length, units - text_begin);
  return decode_utf16_strict(command.subspan(2 * text_begin, 2 * text_units));
}

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

}  // namespace paravox
