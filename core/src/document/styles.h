// A document's own definitions, as both formats keep them: paragraph shapes and the
// numberings and bullets they refer to, styles, binary-data items; and its metadata.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace paravox {

// What a paragraph shape puts before its paragraphs.
enum class HeadKind : std::uint8_t { None, Outline, Number, Bullet };

// How a numbering level writes its number. The values are the binary format's codes, which
// HWPX names (DIGIT, CIRCLED_DIGIT, ...) in the same order.
enum class NumberKind : std::uint8_t {
  Digit = 0,                // 1, 2, 3
  CircledDigit = 1,         // ①, ②, ③
  RomanCapital = 2,         // I, II, III
  RomanSmall = 3,           // i, ii, iii
  LatinCapital = 4,         // A, B, C
  LatinSmall = 5,           // a, b, c
  CircledLatinCapital = 6,  // Ⓐ, Ⓑ, Ⓒ
  CircledLatinSmall = 7,    // ⓐ, ⓑ, ⓒ
  HangulSyllable = 8,       // 가, 나, 다
  CircledHangulSyllable = 9,
  HangulJamo = 10,  // ㄱ, ㄴ, ㄷ
  CircledHangulJamo = 11,
  HangulPhonetic = 12,  // 일, 이, 삼
  Ideograph = 13,       // 一, 二, 三
  CircledIdeograph = 14,
  DecagonCircle = 15,       // 갑, 을, 병
  DecagonCircleHanja = 16,  // 甲, 乙, 丙
  Symbol = 0x80,            // four symbols in turn (notes, never paragraphs)
  UserChar = 0x81,          // a character of the user's (likewise)
};

// Levels of a numbering: seven in older documents, ten since.
inline constexpr std::size_t kNumberingLevels = 10;

// The part of a paragraph shape that numbering needs.
struct ParaShape {
  HeadKind head = HeadKind::None;
  std::uint8_t level = 0;     // 0-based, below kNumberingLevels
  std::uint16_t head_id = 0;  // Number: the numbering's id; Bullet: the bullet's (both from 1)
};

struct NumberingLevel {
  std::string format;  // UTF-8; "^1." writes level 1's number and a full stop
  NumberKind kind = NumberKind::Digit;
  std::uint32_t start = 1;  // the level's first number, at least 1
};

// A numbering definition, referred to by its id from 1 (the n-th definition has id n).
struct Numbering {
  std::array<NumberingLevel, kNumberingLevels> levels;
};

// A bullet definition, referred to by its id from 1.
struct Bullet {
  std::string character;  // UTF-8, one character (a symbol font's private-use one, too)
};

struct Style {
  std::string name;  // "개요 1"
  std::string english_name;
  bool character = false;        // a character style, whose paragraph shape means nothing
  std::uint16_t para_shape = 0;  // 0 for a character style
  // 1-10 for an outline style (a paragraph style of outline paragraphs, or one named
  // "개요 N" or "Outline N"; the English name does not count), 0 for any other.
  std::uint8_t outline_level = 0;
};

enum class BinaryDataKind : std::uint8_t { Link, Embedded, Storage };
enum class BinaryDataCompression : std::uint8_t { AsDocument, Compressed, Stored };

// A picture's or an object's data, kept beside the document's text.
struct BinaryDataItem {
  std::uint16_t id = 0;  // binary: the number its stream is named by; HWPX: 0
  std::string name;      // HWPX: the manifest id pictures refer to ("image1"); binary: empty
  BinaryDataKind kind = BinaryDataKind::Embedded;
  BinaryDataCompression compression = BinaryDataCompression::AsDocument;
  std::string extension;   // "jpg", without the dot
  std::string path;        // "/BinData/BIN0003.jpg" or "BinData/image1.png"; empty for a link
  std::string media_type;  // HWPX only: "image/png"
};

// The definitions the full output needs, indexed by id: para_shapes[i] and styles[i] have id
// i, numberings[i] and bullets[i] id i + 1.
struct DocumentStyles {
  std::vector<ParaShape> para_shapes;
  std::vector<Numbering> numberings;
  std::vector<Bullet> bullets;
  std::vector<Style> styles;
  std::vector<BinaryDataItem> binary_data;
};

// Microseconds since 1970-01-01T00:00:00Z. Readers give only moments from kEarliestTime to
// kLatestTime, the years 1 to 9999 that a Python datetime holds.
using UnixMicroseconds = std::int64_t;
inline constexpr UnixMicroseconds kEarliestTime = -62135596800000000;  // 0001-01-01T00:00:00Z
inline constexpr UnixMicroseconds kLatestTime = 253402300799999999;    // 9999-12-31T23:59:59.999999Z

// What a document says about itself. An empty string is an absent value.
struct Metadata {
  std::string title;
  std::string subject;
  std::string author;
  std::string keywords;
  std::string comments;
  std::string last_saved_by;
  std::optional<UnixMicroseconds> created;
  std::optional<UnixMicroseconds> modified;
};

// Sets each style's outline_level from its paragraph shape, or else from its name. Both
// readers call it once they have read the styles and the paragraph shapes.
void assign_style_outline_levels(DocumentStyles& styles);

// The outline level (1-10) a style name "개요 N" or "Outline N" gives, else 0.
std::uint8_t outline_level_of_style_name(std::string_view name);

// Turns a moment given as civil UTC time into UnixMicroseconds; nothing when a field is out
// of range (month 1-12, day within the month, hour 0-23, minute and second 0-59, year 1-9999).
std::optional<UnixMicroseconds> unix_microseconds(int year, int month, int day, int hour,
                                                  int minute, int second, int microsecond);

}  // namespace paravox
