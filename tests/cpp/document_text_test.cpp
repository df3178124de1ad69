// Text utilities: white space, trimming, UTF-8 and field markers.
#include "document/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <string>

#include "text_writer.h"

namespace paravox {
namespace {

using test::marked;

const std::string kGrin = "\xF0\x9F\x98\x80";  // U+1F600

// ---------------------------------------------------------------------------------------------
// White space and trimming

TEST(IsWhiteSpace, ExactlyTheTwentyFiveCodePoints) {
  const char32_t white[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,   0x1680,
                            0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
                            0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  ASSERT_EQ(std::size(white), 25u);
  for (char32_t c : white)
    EXPECT_TRUE(is_white_space(c)) << std::hex << static_cast<std::uint32_t>(c);

  const char32_t not_white[] = {0x00,   0x08,   0x0E,   0x1C,   0x1D,   0x1E,     0x1F,    0x21,
                                0x84,   0x86,   0x9F,   0xA1,   0x167F, 0x1681,   0x180E,  0x1FFF,
                                0x200B, 0x200C, 0x200D, 0x2027, 0x202A, 0x202E,   0x2030,  0x205E,
                                0x2060, 0x2FFF, 0x3001, 0xFEFF, 0xE000, 0x10FFFF, 0x110000};
  for (char32_t c : not_white)
    EXPECT_FALSE(is_white_space(c)) << std::hex << static_cast<std::uint32_t>(c);

  std::size_t count = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) count += is_white_space(c) ? 1 : 0;
  EXPECT_EQ(count, 25u);
}

TEST(TrimText, Cases) {
  struct Row {
    const char* name;
    std::string text;
    std::string trimmed;
  };
  const Row rows[] = {
      {"empty", "", ""},
      {"ideographic spaces only", "\xE3\x80\x80\xE3\x80\x80\xE3\x80\x80", ""},
      {"inner white space kept",
       "\xE3\x80\x80"
       "a\xC2\xA0"
       "b\xE2\x80\xA9",
       "a\xC2\xA0"
       "b"},
      {"zero width space and BOM kept", "\xE2\x80\x8Bx\xEF\xBB\xBF", "\xE2\x80\x8Bx\xEF\xBB\xBF"},
      {"unit separator kept", "\x1Fx\x1F", "\x1Fx\x1F"},
      {"tab, line feed, carriage return", "\t\nx\r", "x"},
      {"every white space around a letter",
       "\t\n\x0B\x0C\r \xC2\x85\xC2\xA0\xE1\x9A\x80\xE2\x80\x80\xE2\x80\x8A"
       "a"
       "\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\x9F\xE3\x80\x80",
       "a"},
      {"next line (2 bytes) at both ends", "\xC2\x85x\xC2\x85", "x"},
      {"four-byte characters at both ends", kGrin + " " + kGrin, kGrin + " " + kGrin},
      {"four-byte character after white space", "  " + kGrin + "  ", kGrin},
      {"single letter", "a", "a"},
      {"single space", " ", ""},
      {"Hangul", " \xED\x95\x9C\xEA\xB8\x80 ", "\xED\x95\x9C\xEA\xB8\x80"},
      {"medium mathematical space vs word joiner", "\xE2\x81\x9Fx\xE2\x81\xA0", "x\xE2\x81\xA0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string_view trimmed = trim_text(row.text);
    EXPECT_EQ(trimmed, row.trimmed);
    if (!trimmed.empty()) {
      EXPECT_GE(trimmed.data(), row.text.data());
      EXPECT_LE(trimmed.data() + trimmed.size(), row.text.data() + row.text.size());
    }
  }
}

// Bytes that are not UTF-8 never come from us, but must still never be read out of bounds:
// each input lives in an exact-size heap block for the sanitizer to guard.
TEST(TrimText, MalformedBytesStayInBounds) {
  struct Row {
    const char* name;
    std::string text;
    std::string trimmed;
  };
  const Row rows[] = {
      {"lone continuation byte", "\x80", "\x80"},
      {"continuation bytes after a space", " \x80\x80\x80", "\x80\x80\x80"},
      {"cut three-byte lead at the end", " x\xE3\x80", "x\xE3\x80"},
      {"cut three-byte lead alone", "\xE3\x80", "\xE3\x80"},
      {"cut two-byte lead at the end", "x\xC2", "x\xC2"},
      {"four continuation bytes at the end", "x\x80\x80\x80\x80", "x\x80\x80\x80\x80"},
      {"space inside a broken sequence", "\xE3 \x80", "\xE3 \x80"},
      {"invalid lead bytes", "\xFF\xFE", "\xFF\xFE"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto bytes = std::make_unique<char[]>(row.text.size());
    std::copy(row.text.begin(), row.text.end(), bytes.get());
    EXPECT_EQ(trim_text(std::string_view(bytes.get(), row.text.size())), row.trimmed);
  }
}

// ---------------------------------------------------------------------------------------------
// UTF-8 and field markers

TEST(AppendUtf8, LengthBoundaries) {
  struct Row {
    char32_t c;
    std::string bytes;
  };
  const Row rows[] = {
      {0x00, std::string(1, '\0')},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xE000, "\xEE\x80\x80"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x1F600, kGrin},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
  };
  for (const Row& row : rows) {
    std::string out = "<";
    append_utf8(out, row.c);
    EXPECT_EQ(out, "<" + row.bytes) << std::hex << static_cast<std::uint32_t>(row.c);
  }
}

TEST(AppendFieldMarker, DecimalBetweenMarks) {
  struct Row {
    std::size_t index;
    std::string marker;
  };
  const Row rows[] = {
      {0, "#0#"},
      {1, "#1#"},
      {10, "#10#"},
      {4096, "#4096#"},
      {std::numeric_limits<std::size_t>::max(),
       "#" + std::to_string(std::numeric_limits<std::size_t>::max()) + "#"},
  };
  for (const Row& row : rows) {
    std::string out = "x";
    append_field_marker(out, row.index);
    EXPECT_EQ(out, "x" + marked(row.marker));
  }
}

}  // namespace
}  // namespace paravox
