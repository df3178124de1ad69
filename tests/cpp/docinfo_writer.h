// Writers for the DocInfo records the definitions come from, so tests state paragraph
// shapes, numberings, bullets, styles and binary-data items rather than bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "document/styles.h"
#include "record_writer.h"

namespace paravox::records_test {

inline void put_counted(Payload& out, std::u16string_view text) {
  put_u16(out, static_cast<std::uint16_t>(text.size()));
  put_units(out, text);
}

// A paragraph shape of `size` bytes (42 to 58 in real documents): the head in the property
// word, with the level there stopping at the seventh, the numbering or bullet id at 30, and
// the full level at 54 when the record reaches it.
inline Payload para_shape_payload(HeadKind head, std::uint8_t level, std::uint16_t head_id,
                                  std::size_t size = 58) {
  Payload out(size, 0);
  const std::uint32_t bits_level = level < 6 ? level : 6;
  const std::uint32_t properties =
      0x80u | (static_cast<std::uint32_t>(head) << 23) | (bits_level << 25);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(properties >> (8 * i));
  out[30] = static_cast<std::uint8_t>(head_id & 0xFF);
  out[31] = static_cast<std::uint8_t>(head_id >> 8);
  if (size >= 58) out[54] = level;
  return out;
}

struct LevelSpec {
  std::u16string format;
  NumberKind kind = NumberKind::Digit;
  std::uint32_t start = 1;
};

// A numbering: seven levels as every version writes them; with `levels` holding ten, also the
// numbering's own start, the seven levels' starts, the three further levels and their starts.
inline Payload numbering_payload(const std::vector<LevelSpec>& levels) {
  Payload out;
  const auto put_level = [&out](const LevelSpec& level) {
    put_u32(out, 0x0Cu | (static_cast<std::uint32_t>(level.kind) << 5));
    put_u16(out, 0);
    put_u16(out, 50);
    put_u32(out, 0xFFFFFFFF);
    put_counted(out, level.format);
  };
  for (std::size_t i = 0; i < 7; ++i) put_level(levels[i]);
  if (levels.size() < 10) return out;
  put_u16(out, 0);
  for (std::size_t i = 0; i < 7; ++i) put_u32(out, levels[i].start);
  for (std::size_t i = 7; i < 10; ++i) put_level(levels[i]);
  for (std::size_t i = 7; i < 10; ++i) put_u32(out, levels[i].start);
  return out;
}

inline Payload bullet_payload(char16_t character) {
  Payload out;
  put_u32(out, 0x08);
  put_u16(out, 0);
  put_u16(out, 50);
  put_u32(out, 0xFFFFFFFF);
  put_u16(out, static_cast<std::uint16_t>(character));
  return out;
}

inline Payload style_payload(std::u16string_view name, std::u16string_view english_name,
                             std::uint16_t para_shape, bool character = false) {
  Payload out;
  put_counted(out, name);
  put_counted(out, english_name);
  out.push_back(character ? 1 : 0);  // the kind
  out.push_back(0);                  // next style
  put_u16(out, 1042);                // language
  put_u16(out, para_shape);
  put_u16(out, 0);  // character shape
  put_u16(out, 0);
  return out;
}

// An embedded (kind 1) or stored (kind 2) item: properties, id, extension; a link (kind 0):
// properties and two paths.
inline Payload bin_data_payload(unsigned kind, unsigned compression, std::uint16_t id,
                                std::u16string_view extension) {
  Payload out;
  put_u16(out, static_cast<std::uint16_t>(kind | (compression << 4)));
  if (kind == 0) {
    put_counted(out, u"C:\\pictures\\dog.png");
    put_counted(out, u"..\\dog.png");
    return out;
  }
  put_u16(out, id);
  put_counted(out, extension);
  return out;
}

}  // namespace paravox::records_test
