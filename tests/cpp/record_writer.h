// Writers for record lists and the control payloads the conversion reads, so tests state
// their fixtures as records instead of byte blobs.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "hwp/records.h"

namespace paravox::records_test {

using Payload = std::vector<std::uint8_t>;

inline constexpr std::uint32_t kTableCtrl = 0x74626C20;      // 'tbl '
inline constexpr std::uint32_t kDrawingCtrl = 0x67736F20;    // 'gso '
inline constexpr std::uint32_t kEquationCtrl = 0x65716564;   // 'eqed'
inline constexpr std::uint32_t kClickHereCtrl = 0x25636C6B;  // '%clk'
inline constexpr std::uint32_t kFootnoteCtrl = 0x666E2020;   // 'fn  '
inline constexpr std::uint32_t kHyperlinkCtrl = 0x25686C6B;  // '%hlk'

inline void put_u16(Payload& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void put_u32(Payload& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

inline void put_units(Payload& out, std::u16string_view units) {
  for (const char16_t u : units) put_u16(out, static_cast<std::uint16_t>(u));
}

// A PARA_TEXT character stream: text, control characters and field starts and ends.
class ParaChars {
 public:
  ParaChars& text(std::u16string_view units) {
    put_units(bytes_, units);
    return *this;
  }
  // A one-unit control character (line break 10, paragraph break 13, ...).
  ParaChars& control(std::uint16_t code) {
    put_u16(bytes_, code);
    return *this;
  }
  // An eight-unit control: code, 32-bit id, four more units, the code repeated.
  ParaChars& extended(std::uint16_t code, std::uint32_t id = 0) {
    put_u16(bytes_, code);
    put_u32(bytes_, id);
    for (int unit = 0; unit < 4; ++unit) put_u16(bytes_, 0);
    put_u16(bytes_, code);
    return *this;
  }
  ParaChars& field_start(std::uint32_t id = kClickHereCtrl) { return extended(3, id); }
  ParaChars& field_end() { return extended(4); }
  // The anchor of a table or drawing object in the paragraph's characters.
  ParaChars& object_anchor(std::uint32_t id) { return extended(11, id); }
  ParaChars& paragraph_end() { return control(13); }

  const Payload& bytes() const { return bytes_; }
  operator Payload() const { return bytes_; }

 private:
  Payload bytes_;
};

inline Payload para_text(std::u16string_view text) {
  return ParaChars().text(text).paragraph_end();
}

// CTRL_HEADER payload: the control id, then `rest` (property words and so on).
inline Payload ctrl_header(std::uint32_t id, const Payload& rest = Payload(4, 0)) {
  Payload out;
  put_u32(out, id);
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

// '%clk' CTRL_HEADER with a command holding the guide text `direction`.
inline Payload click_here_header(std::u16string_view direction, bool modified) {
  std::u16string command = u"Clickhere:set:";
  if (!direction.empty()) {
    const std::string digits = std::to_string(direction.size());
    command += u"Direction:wstring:";
    command += std::u16string(digits.begin(), digits.end());
    command += u':';
    command += direction;
    command += u' ';
  }
  Payload out;
  put_u32(out, kClickHereCtrl);
  put_u32(out, modified ? 0x00008000u : 0u);
  out.push_back(9);
  put_u16(out, static_cast<std::uint16_t>(command.size()));
  put_units(out, command);
  put_u32(out, 0);  // field id, not read
  return out;
}

// CTRL_DATA payload naming a field: 10 bytes not read, the unit count `declared_units`
// (the name's length by default), then the name's units.
inline Payload ctrl_data_name(std::u16string_view name, int declared_units = -1) {
  Payload out(10, 0);
  put_u16(out, static_cast<std::uint16_t>(declared_units < 0 ? name.size() : declared_units));
  put_units(out, name);
  return out;
}

// EQEDIT payload: 4 bytes not read, the unit count `declared_units` (the script's length by
// default), then the script's units.
inline Payload eqedit(std::u16string_view script, int declared_units = -1) {
  Payload out;
  put_u32(out, 0);
  put_u16(out, static_cast<std::uint16_t>(declared_units < 0 ? script.size() : declared_units));
  put_units(out, script);
  return out;
}

// TABLE payload: properties, row count, column count, spacing and margins, then one cell
// count per row. `row_count` may differ from the number of counts written.
inline Payload table_payload(std::uint16_t row_count, std::initializer_list<std::uint16_t> cells) {
  Payload out;
  put_u32(out, 0);
  put_u16(out, row_count);
  put_u16(out, 0);
  out.resize(out.size() + 10, 0);
  for (const std::uint16_t count : cells) put_u16(out, count);
  return out;
}
inline Payload table_payload(std::initializer_list<std::uint16_t> cells) {
  return table_payload(static_cast<std::uint16_t>(cells.size()), cells);
}

// SHAPE_COMPONENT_PICTURE payload of `size` bytes; from 73 bytes on it holds `item`, the
// binary-data item's place, at offset 71.
inline Payload picture_payload(std::size_t size = 73, std::uint16_t item = 1) {
  Payload out(size, 0);
  if (size >= 73) {
    out[71] = static_cast<std::uint8_t>(item & 0xFF);
    out[72] = static_cast<std::uint8_t>(item >> 8);
  }
  return out;
}

// A section stream being written record by record. `records()` splits the bytes written so
// far; the records view this writer's buffer, so it must outlive them.
class SectionWriter {
 public:
  SectionWriter& record(std::uint16_t tag_id, std::uint16_t level, const Payload& payload = {}) {
    const std::uint32_t size = static_cast<std::uint32_t>(payload.size());
    const std::uint32_t size_field = size >= 0xFFF ? 0xFFFu : size;
    put_u32(bytes_, (tag_id & 0x3FFu) | ((level & 0x3FFu) << 10) | (size_field << 20));
    if (size_field == 0xFFF) put_u32(bytes_, size);
    bytes_.insert(bytes_.end(), payload.begin(), payload.end());
    return *this;
  }

  // A paragraph as the word processor writes it: PARA_HEADER, then PARA_TEXT.
  SectionWriter& paragraph(std::uint16_t level, const Payload& chars) {
    record(tag::kParaHeader, level, Payload(22, 0));
    return record(tag::kParaText, level, chars);
  }
  SectionWriter& paragraph(std::uint16_t level, std::u16string_view text) {
    return paragraph(level, para_text(text));
  }
  SectionWriter& ctrl(std::uint16_t level, std::uint32_t id) {
    return record(tag::kCtrlHeader, level, ctrl_header(id));
  }
  SectionWriter& list_header(std::uint16_t level) {
    return record(tag::kListHeader, level, Payload(8, 0));
  }
  // A table control at `level` whose rows hold one paragraph per cell ("" for a cell with no
  // paragraph text), with the TABLE record declaring exactly these rows.
  SectionWriter& table(std::uint16_t level,
                       std::initializer_list<std::initializer_list<std::u16string_view>> rows) {
    ctrl(level, kTableCtrl);
    Payload layout;
    put_u32(layout, 0);
    put_u16(layout, static_cast<std::uint16_t>(rows.size()));
    put_u16(layout, 0);
    layout.resize(layout.size() + 10, 0);
    for (const auto& row : rows) put_u16(layout, static_cast<std::uint16_t>(row.size()));
    record(tag::kTable, level + 1, layout);
    for (const auto& row : rows) {
      for (const std::u16string_view cell : row) {
        list_header(level + 1);
        paragraph(level + 1, cell);
      }
    }
    return *this;
  }
  SectionWriter& equation(std::uint16_t level, std::u16string_view script) {
    ctrl(level, kEquationCtrl);
    return record(tag::kEqEdit, level + 1, eqedit(script));
  }

  const Payload& bytes() const { return bytes_; }
  RecordList records() const { return parse_records(bytes_); }

 private:
  Payload bytes_;
};

}  // namespace paravox::records_test
