#include "hwp/docinfo.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "document/text.h"
#include "hwp/records.h"
#include "hwp/section.h"

namespace paravox {
namespace {

// Paragraph shape: the property word's bits 23-24 are the head kind, 25-27 its level (which
// stops at 6, the seventh level); the numbering or bullet id sits at 30. Records of 58 bytes
// and more hold the level again at 54, there also for levels 8 to 10.
constexpr std::size_t kShapeNumberingIdOffset = 30;
constexpr std::size_t kShapeFullLevelOffset = 54;

// A numbering or bullet level's head: property word, width adjustment, distance from the
// text, character shape id. The property word's bits 5-8 are the number kind.
constexpr std::size_t kHeadInfoSize = 12;
constexpr std::size_t kOldLevels = 7;

// PARA_HEADER: the paragraph shape id and the style id.
constexpr std::size_t kParagraphShapeIdOffset = 8;
constexpr std::size_t kParagraphStyleIdOffset = 10;

// A section definition's outline numbering id, counting the control id.
constexpr std::size_t kSectionNumberingOffset = 18;

// The text of `units` UTF-16 units taken from `cursor`, or nothing when fewer bytes remain.
std::optional<std::string> read_units(ByteCursor& cursor, std::size_t units) {
  const std::optional<Bytes> bytes = cursor.take(units * 2);
  if (!bytes) return std::nullopt;
  return decode_utf16(*bytes);
}

// A u16 character count, then that many UTF-16 units.
std::optional<std::string> read_counted_text(ByteCursor& cursor) {
  const std::optional<std::uint16_t> units = cursor.read_u16();
  if (!units) return std::nullopt;
  return read_units(cursor, *units);
}

ParaShape read_para_shape(Bytes payload) {
  ParaShape shape;
  const std::optional<std::uint32_t> properties = u32_at(payload, 0);
  if (!properties) return shape;
  shape.head = static_cast<HeadKind>((*properties >> 23) & 0x3);
  shape.level = static_cast<std::uint8_t>((*properties >> 25) & 0x7);
  if (const auto full = u32_at(payload, kShapeFullLevelOffset); full && *full < kNumberingLevels) {
    shape.level = static_cast<std::uint8_t>(*full);
  }
  shape.head_id = u16_at(payload, kShapeNumberingIdOffset).value_or(0);
  return shape;
}

// One level's head and format text; false when the bytes end first (the level keeps what
// was read).
bool read_numbering_level(ByteCursor& cursor, NumberingLevel& level) {
  const std::optional<Bytes> head = cursor.take(kHeadInfoSize);
  if (!head) return false;
  level.kind = static_cast<NumberKind>((ByteCursor::load_u32(*head, 0) >> 5) & 0xF);
  std::optional<std::string> format = read_counted_text(cursor);
  if (!format) return false;
  level.format = std::move(*format);
  return true;
}

// Start values of `count` levels from `first`; false when the bytes end first.
bool read_level_starts(ByteCursor& cursor, Numbering& numbering, std::size_t first,
                       std::size_t count) {
  for (std::size_t i = first; i < first + count; ++i) {
    const std::optional<std::uint32_t> start = cursor.read_u32();
    if (!start) return false;
    numbering.levels[i].start = std::max<std::uint32_t>(*start, 1);
  }
  return true;
}

// Seven levels; then, in documents since 5.0.2.5, a start for the whole numbering (not
// shown by the word processor), each level's start, and three more levels with theirs.
Numbering read_numbering(Bytes payload) {
  Numbering numbering;
  ByteCursor cursor(payload);
  for (std::size_t i = 0; i < kOldLevels; ++i) {
    if (!read_numbering_level(cursor, numbering.levels[i])) return numbering;
  }
  if (!cursor.read_u16() || !read_level_starts(cursor, numbering, 0, kOldLevels)) {
    return numbering;
  }
  for (std::size_t i = kOldLevels; i < kNumberingLevels; ++i) {
    if (!read_numbering_level(cursor, numbering.levels[i])) return numbering;
  }
  read_level_starts(cursor, numbering, kOldLevels, kNumberingLevels - kOldLevels);
  return numbering;
}

// The head (as a numbering level's), then the bullet character.
Bullet read_bullet(Bytes payload) {
  Bullet bullet;
  ByteCursor cursor(payload);
  if (cursor.skip(kHeadInfoSize)) {
    if (std::optional<std::string> character = read_units(cursor, 1)) {
      bullet.character = std::move(*character);
    }
  }
  return bullet;
}

// Name and English name (each counted UTF-16), a property byte (bits 0-2 the kind: 0 a
// paragraph style, 1 a character style), the next style's id, a language id, then the
// paragraph shape id.
Style read_style(Bytes payload) {
  Style style;
  ByteCursor cursor(payload);
  std::optional<std::string> name = read_counted_text(cursor);
  if (!name) return style;
  style.name = std::move(*name);
  std::optional<std::string> english_name = read_counted_text(cursor);
  if (!english_name) return style;
  style.english_name = std::move(*english_name);
  const std::optional<std::uint16_t> kind_and_next = cursor.read_u16();
  if (!kind_and_next) return style;
  style.character = (*kind_and_next & 0x7) == 1;
  if (!style.character && cursor.skip(2)) style.para_shape = cursor.read_u16().value_or(0);
  return style;
}

// Properties (bits 0-3 the kind, 4-5 the compression); a link then holds two paths, which
// are not read, an embedded or stored item its id and extension.
BinaryDataItem read_binary_data(Bytes payload) {
  BinaryDataItem item;
  ByteCursor cursor(payload);
  const std::optional<std::uint16_t> properties = cursor.read_u16();
  if (!properties) return item;
  const unsigned kind = *properties & 0xF;
  const unsigned compression = (*properties >> 4) & 0x3;
  item.kind = kind == 1   ? BinaryDataKind::Embedded
              : kind == 2 ? BinaryDataKind::Storage
                          : BinaryDataKind::Link;
  item.compression = compression == 1   ? BinaryDataCompression::Compressed
                     : compression == 2 ? BinaryDataCompression::Stored
                                        : BinaryDataCompression::AsDocument;
  if (item.kind == BinaryDataKind::Link) return item;
  const std::optional<std::uint16_t> id = cursor.read_u16();
  if (!id) return item;
  item.id = *id;
  std::optional<std::string> extension = read_counted_text(cursor);
  if (!extension) return item;
  item.extension = std::move(*extension);
  char name[16];
  std::snprintf(name, sizeof name, "BIN%04X", static_cast<unsigned>(item.id));
  item.path = "/BinData/" + std::string(name) + "." + item.extension;
  return item;
}

}  // namespace

DocumentStyles read_docinfo(Bytes docinfo) {
  DocumentStyles styles;
  for_each_record(docinfo, [&](std::uint16_t tag_id, std::uint16_t, Bytes payload) {
    switch (tag_id) {
      case tag::kParaShape:
        styles.para_shapes.push_back(read_para_shape(payload));
        break;
      case tag::kNumbering:
        styles.numberings.push_back(read_numbering(payload));
        break;
      case tag::kBullet:
        styles.bullets.push_back(read_bullet(payload));
        break;
      case tag::kStyle:
        styles.styles.push_back(read_style(payload));
        break;
      case tag::kBinData:
        styles.binary_data.push_back(read_binary_data(payload));
        break;
      default:
        break;
    }
  });
  assign_style_outline_levels(styles);
  return styles;
}

Result<DocumentStyles> read_document_styles(Container& container, bool compressed) {
  // A stream cut short gives the records it holds whole.
  Result<Inflated> stream = read_section_stream(container, "/DocInfo", compressed);
  if (!stream) return std::move(stream).error();
  return read_docinfo(stream->bytes);
}

std::uint16_t section_outline_numbering(Bytes section_definition) {
  return u16_at(section_definition, kSectionNumberingOffset).value_or(0);
}

const ParagraphHead& next_paragraph_head(ParagraphNumbering& numbering, Bytes header) {
  const std::uint16_t style =
      kParagraphStyleIdOffset < header.size() ? header[kParagraphStyleIdOffset] : 0;
  return numbering.next(u16_at(header, kParagraphShapeIdOffset).value_or(0), style);
}

}  // namespace paravox
