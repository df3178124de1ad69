// Paragraph text decoding and strict UTF-16.
#include "hwp/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "document/text.h"
#include "text_writer.h"

namespace paravox {
namespace {

using test::control_filled;
using test::field_end;
using test::field_start;
using test::kHyperlinkId;
using test::marked;
using test::para_text;
using test::Payload;
using test::prefix;
using test::tab;
using test::wide_control;

constexpr char16_t kHigh = 0xD83D;  // with kLow: U+1F600
constexpr char16_t kLow = 0xDE00;
const std::string kGrin = "\xF0\x9F\x98\x80";

std::u16string unit(char16_t u) {
  return std::u16string(1, u);
}

// The first `units` units of an 8-unit control: a control cut short by the payload's end.
std::u16string cut(const std::u16string& control, std::size_t units) {
  return control.substr(0, units);
}

Payload with_odd_byte(Payload payload, std::uint8_t byte = 0x41) {
  payload.push_back(byte);
  return payload;
}

bool is_valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t len = b < 0x80             ? 1
                      : (b & 0xE0) == 0xC0 ? 2
                      : (b & 0xF0) == 0xE0 ? 3
                      : (b & 0xF8) == 0xF0 ? 4
                                           : 0;
    if (len == 0 || s.size() - i < len) return false;
    std::uint32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; k < len; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      c = (c << 6) | (t & 0x3F);
    }
    const std::uint32_t min = len == 1 ? 0 : len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

// The text with every marker k replaced by field_texts[k]: what the plain decoder must give
// for the same payload when the document holds no U+E000 of its own.
std::string unmarked(const ParaText& decoded) {
  std::string out = decoded.text;
  for (std::size_t k = 0; k < decoded.field_texts.size(); ++k) {
    std::string marker;
    append_field_marker(marker, k);
    const std::size_t at = out.find(marker);
    if (at == std::string::npos) return "<marker " + std::to_string(k) + " missing>";
    out.replace(at, marker.size(), decoded.field_texts[k]);
  }
  return out;
}

// Markers 0, 1, ... each exactly once and in order, and no other U+E000.
bool markers_in_order(const ParaText& decoded) {
  std::size_t next = 0;
  std::size_t at = 0;
  const std::string mark = "\xEE\x80\x80";
  while ((at = decoded.text.find(mark, at)) != std::string::npos) {
    std::string marker;
    append_field_marker(marker, next);
    if (decoded.text.compare(at, marker.size(), marker) != 0) return false;
    at += marker.size();
    ++next;
  }
  return next == decoded.field_texts.size();
}

// ---------------------------------------------------------------------------------------------
// decode_para_text and decode_para_text_plain

struct DecodeCase {
  const char* name;
  Payload payload;
  std::string text;                      // '#' stands for U+E000
  std::vector<std::string> field_texts;  // full decoder
  std::string plain;                     // plain decoder
};

const std::vector<DecodeCase>& decode_cases() {
  static const std::vector<DecodeCase> cases = {
      {"empty payload", {}, "", {}, ""},
      {"one byte", {0x41}, "", {}, ""},
      {"final odd byte ignored", with_odd_byte(para_text({u"AB"})), "AB", {}, "AB"},
      {"tab and paragraph break vanish, tab data unread",
       para_text({u"H", control_filled(9, u'Z'), u"i", unit(13)}),
       "Hi",
       {},
       "Hi"},
      {"line break joins words", para_text({u"ab", unit(10), u"cd"}), "abcd", {}, "abcd"},
      {"one-unit codes 0 and 24..31",
       para_text({unit(0), u"a", unit(24), unit(25), unit(29), u"b", unit(30), unit(31)}),
       "ab",
       {},
       "ab"},
      {"code 11 cut short ends decoding",
       para_text({u"ab", cut(wide_control(11, 0, u'Z'), 7)}),
       "ab",
       {},
       "ab"},
      {"code 11 complete is skipped",
       para_text({u"ab", wide_control(11, 0, u'Z'), u"c"}),
       "abc",
       {},
       "abc"},
      {"BMP characters in 1, 2 and 3 bytes",
       para_text({u"\u007F\u0080\u07FF\u0800\uFFFF\uD55C\uAE00"}),
       "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xED\x95\x9C\xEA\xB8\x80",
       {},
       "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xED\x95\x9C\xEA\xB8\x80"},
      {"surrogate pair", para_text({unit(kHigh), unit(kLow)}), kGrin, {}, kGrin},
      {"high surrogate before a letter", para_text({unit(kHigh), u"A"}), "A", {}, "A"},
      {"high surrogate before a tab",
       para_text({unit(kHigh), control_filled(9, u'Z'), u"A"}),
       "A",
       {},
       "A"},
      {"two high surrogates then a low: the second pairs",
       para_text({unit(kHigh), unit(kHigh), unit(kLow)}),
       kGrin,
       {},
       kGrin},
      {"low surrogate alone", para_text({u"a", unit(kLow), u"b"}), "ab", {}, "ab"},
      {"low then high reversed", para_text({unit(kLow), unit(kHigh)}), "", {}, ""},
      {"high surrogate in the last two bytes", para_text({u"a", unit(kHigh)}), "a", {}, "a"},
      {"high surrogate in the last three bytes",
       with_odd_byte(para_text({u"a", unit(kHigh)}), 0xDE),
       "a",
       {},
       "a"},
      {"U+E000 of the document copied unchanged",
       para_text({u"a\uE0000\uE000b"}),
       "a#0#b",
       {},
       "a#0#b"},
      {"click-here field lifted out",
       para_text({u"x", field_start(kClickHereId), u"ab", field_end(), u"y"}),
       "x#0#y",
       {"ab"},
       "xaby"},
      {"two fields numbered by their ends",
       para_text({field_start(kClickHereId), u"a", field_end(), u"-", field_start(kClickHereId),
                  u"b", field_end()}),
       "#0#-#1#",
       {"a", "b"},
       "a-b"},
      {"empty field",
       para_text({u"x", field_start(kClickHereId), field_end(), u"y"}),
       "x#0#y",
       {""},
       "xy"},
      {"hyperlink field stays in the text",
       para_text({u"x", field_start(kHyperlinkId), u"link", field_end(), u"y"}),
       "xlinky",
       {},
       "xlinky"},
      {"hyperlink end closes the open click-here field",
       para_text({u"x", field_start(kClickHereId), u"a", field_start(kHyperlinkId), u"b",
                  field_end(), u"c", field_end(), u"d"}),
       "x#0#cd",
       {"ab"},
       "xabcd"},
      {"nested click-here start ignored",
       para_text({u"x", field_start(kClickHereId), u"a", field_start(kClickHereId), u"b",
                  field_end(), u"c"}),
       "x#0#c",
       {"ab"},
       "xabc"},
      {"field end without a field", para_text({u"a", field_end(), u"b"}), "ab", {}, "ab"},
      {"unterminated field keeps its text unmarked",
       para_text({u"x", field_start(kClickHereId), u"ab", tab(), u"c"}),
       "xabc",
       {},
       "xabc"},
      {"unterminated field after a closed one",
       para_text(
           {field_start(kClickHereId), u"a", field_end(), u"b", field_start(kClickHereId), u"c"}),
       "#0#bc",
       {"a"},
       "abc"},
      {"field end cut short still closes the field",
       para_text({u"x", field_start(kClickHereId), u"ab", cut(field_end(), 1)}),
       "x#0#",
       {"ab"},
       "xab"},
      {"field end cut short with odd byte",
       with_odd_byte(para_text({u"x", field_start(kClickHereId), u"ab", cut(field_end(), 7)})),
       "x#0#",
       {"ab"},
       "xab"},
      {"field start cut short opens nothing",
       para_text({u"x", cut(field_start(kClickHereId), 7)}),
       "x",
       {},
       "x"},
      {"field start cut short inside an open field: text stays unmarked",
       para_text({field_start(kClickHereId), u"a", cut(field_start(kClickHereId), 3)}),
       "a",
       {},
       "a"},
      {"click-here id one unit late is another id",
       para_text({u"x", std::u16string{3, 0, 0x6C6B, 0x2563, 0, 0, 0, 3}, u"a", field_end()}),
       "xa",
       {},
       "xa"},
      {"click-here id with its halves swapped is another id",
       para_text({u"x", std::u16string{3, 0x2563, 0x6C6B, 0, 0, 0, 0, 3}, u"a", field_end()}),
       "xa",
       {},
       "xa"},
      {"U+E000 of the document inside a field",
       para_text({field_start(kClickHereId), u"\uE0001\uE000", field_end()}),
       "#0#",
       {"#1#"},
       "#1#"},
      {"surrogate pair inside a field",
       para_text({field_start(kClickHereId), unit(kHigh), unit(kLow), field_end()}),
       "#0#",
       {kGrin},
       kGrin},
  };
  return cases;
}

TEST(DecodeParaText, Cases) {
  for (const DecodeCase& c : decode_cases()) {
    SCOPED_TRACE(c.name);
    const ParaText decoded = decode_para_text(c.payload);
    EXPECT_EQ(decoded.text, marked(c.text));
    std::vector<std::string> expected_fields;
    for (const std::string& f : c.field_texts) expected_fields.push_back(marked(f));
    EXPECT_EQ(decoded.field_texts, expected_fields);
    EXPECT_EQ(decode_para_text_plain(c.payload), marked(c.plain));
  }
}

// One result decoded into again and again, through every case in both orders, holds exactly
// the latest paragraph: no text or field of an earlier one survives in its reused storage.
TEST(DecodeParaText, IntoAReusedResult) {
  std::vector<DecodeCase> cases = decode_cases();
  ParaText reused;
  for (int pass = 0; pass < 2; ++pass) {
    for (const DecodeCase& c : cases) {
      SCOPED_TRACE(c.name);
      decode_para_text_into(c.payload, reused);
      EXPECT_EQ(reused.text, marked(c.text));
      std::vector<std::string> expected_fields;
      for (const std::string& f : c.field_texts) expected_fields.push_back(marked(f));
      EXPECT_EQ(reused.field_texts, expected_fields);
    }
    std::reverse(cases.begin(), cases.end());
  }
}

TEST(DecodeParaText, ElevenFieldsGetMarkersZeroToTen) {
  std::u16string all;
  for (int i = 0; i < 11; ++i) {
    all += field_start(kClickHereId) + std::u16string(1, static_cast<char16_t>(u'a' + i)) +
           field_end();
  }
  const ParaText decoded = decode_para_text(test::utf16le(all));
  ASSERT_EQ(decoded.field_texts.size(), 11u);
  EXPECT_EQ(decoded.field_texts[10], "k");
  EXPECT_EQ(decoded.text, marked("#0##1##2##3##4##5##6##7##8##9##10#"));
}

// Each code below 32 is followed by seven 'Z' units: an 8-unit control hides them, a 1-unit
// control lets them through.
TEST(DecodeParaText, UnitsOfEveryControlCode) {
  struct Row {
    char16_t code;
    int units;
  };
  const Row rows[] = {
      {0, 1},  {1, 8},  {2, 8},  {3, 8},  {4, 8},  {5, 8},  {6, 8},  {7, 8},
      {8, 8},  {9, 8},  {10, 1}, {11, 8}, {12, 8}, {13, 1}, {14, 8}, {15, 8},
      {16, 8}, {17, 8}, {18, 8}, {19, 8}, {20, 8}, {21, 8}, {22, 8}, {23, 8},
      {24, 1}, {25, 1}, {26, 1}, {27, 1}, {28, 1}, {29, 1}, {30, 1}, {31, 1},
  };
  ASSERT_EQ(std::size(rows), 32u);
  for (const Row& row : rows) {
    SCOPED_TRACE("code " + std::to_string(row.code));
    const Payload payload = para_text({u"H", control_filled(row.code, u'Z'), u"i"});
    const std::string expected = row.units == 8 ? "Hi" : "HZZZZZZZi";
    EXPECT_EQ(decode_para_text(payload).text, expected);
    EXPECT_TRUE(decode_para_text(payload).field_texts.empty());
    EXPECT_EQ(decode_para_text_plain(payload), expected);

    // Cut one unit short, an 8-unit control ends the text; a 1-unit control is whole.
    const Payload cut_short = para_text({u"H", control_filled(row.code, u'Z').substr(0, 7)});
    const std::string expected_cut = row.units == 8 ? "H" : "HZZZZZZ";
    EXPECT_EQ(decode_para_text(cut_short).text, expected_cut);
    EXPECT_EQ(decode_para_text_plain(cut_short), expected_cut);
  }
}

// "ab" [%clk start] "cd" [end] "ef", cut after every byte.
TEST(DecodeParaText, EveryPrefixOfAFieldParagraph) {
  const Payload payload = para_text({u"ab", field_start(kClickHereId), u"cd", field_end(), u"ef"});
  ASSERT_EQ(payload.size(), 44u);
  struct Row {
    std::size_t from, to;  // prefix sizes [from, to]
    const char* text;
    std::vector<std::string> field_texts;
    const char* plain;
  };
  const Row rows[] = {
      {0, 1, "", {}, ""},
      {2, 3, "a", {}, "a"},
      {4, 19, "ab", {}, "ab"},   // start cut short: nothing opened
      {20, 21, "ab", {}, "ab"},  // open, empty, unterminated
      {22, 23, "abc", {}, "abc"},
      {24, 25, "abcd", {}, "abcd"},
      {26, 41, "ab#0#", {"cd"}, "abcd"},  // end cut short still closes
      {42, 43, "ab#0#e", {"cd"}, "abcde"},
      {44, 44, "ab#0#ef", {"cd"}, "abcdef"},
  };
  std::size_t covered = 0;
  for (const Row& row : rows) {
    for (std::size_t size = row.from; size <= row.to; ++size) {
      SCOPED_TRACE("prefix " + std::to_string(size));
      const Payload cut_payload = prefix(payload, size);
      const ParaText decoded = decode_para_text(cut_payload);
      EXPECT_EQ(decoded.text, marked(row.text));
      EXPECT_EQ(decoded.field_texts, row.field_texts);
      EXPECT_EQ(decode_para_text_plain(cut_payload), row.plain);
      ++covered;
    }
  }
  EXPECT_EQ(covered, payload.size() + 1);
}

// A paragraph mixing every feature, cut after every byte: each prefix decodes to valid UTF-8
// with its markers in order, agrees with the plain decoder, and is a prefix of the whole
// paragraph's plain text.
TEST(DecodeParaText, EveryPrefixOfAMixedParagraph) {
  const Payload payload = para_text({
      u"\uD55C",
      unit(kHigh),
      unit(kLow),
      field_start(kClickHereId),
      u"a",
      field_start(kHyperlinkId),
      u"b",
      field_end(),
      u"c",
      control_filled(9, u'Z'),
      field_start(kClickHereId),
      unit(kHigh),
      unit(kLow),
      field_start(kClickHereId),
      u"d",
      field_end(),
      field_end(),
      unit(13),
      field_start(kClickHereId),
      u"e",
  });
  const std::string whole = decode_para_text_plain(payload);
  EXPECT_EQ(whole, "\xED\x95\x9C" + kGrin + "abc" + kGrin + "de");
  for (std::size_t size = 0; size <= payload.size(); ++size) {
    SCOPED_TRACE("prefix " + std::to_string(size));
    const Payload cut_payload = prefix(payload, size);
    const ParaText decoded = decode_para_text(cut_payload);
    const std::string plain = decode_para_text_plain(cut_payload);
    EXPECT_TRUE(is_valid_utf8(decoded.text));
    EXPECT_TRUE(markers_in_order(decoded));
    EXPECT_EQ(unmarked(decoded), plain);
    EXPECT_EQ(whole.compare(0, plain.size(), plain), 0) << plain;
  }
}

// Random unit streams rich in controls, field ids and surrogates: no fault (the sanitizer
// build checks memory), valid UTF-8, markers in order and agreement with the plain decoder.
TEST(DecodeParaText, RandomStreams) {
  std::mt19937 rng(20240607);
  const char16_t interesting[] = {0,    3,      4,      9,      10,     11,     13,     24,
                                  31,   u'a',   u'7',   0x6C6B, 0x2563, 0x6C6B, 0x2563, kHigh,
                                  kLow, 0xDBFF, 0xDC00, 0xD7FF, 0xFFFF, 0x0800, 0x07FF};
  for (int round = 0; round < 3000; ++round) {
    std::u16string stream;
    const int length = static_cast<int>(rng() % 80);
    for (int i = 0; i < length; ++i) {
      if (rng() % 4 == 0) {
        stream += field_start(rng() % 3 ? kClickHereId : kHyperlinkId);
      } else if (rng() % 5 == 0) {
        stream += field_end();
      } else {
        stream += interesting[rng() % std::size(interesting)];
      }
    }
    Payload payload = test::utf16le(stream);
    if (rng() % 2) payload.push_back(static_cast<std::uint8_t>(rng()));
    // An exact-size heap copy, so that any read past the payload is caught by the sanitizer.
    auto bytes = std::make_unique<std::uint8_t[]>(payload.size());
    std::copy(payload.begin(), payload.end(), bytes.get());
    const Bytes view(bytes.get(), payload.size());

    const ParaText decoded = decode_para_text(view);
    const std::string plain = decode_para_text_plain(view);
    ASSERT_TRUE(is_valid_utf8(decoded.text));
    ASSERT_TRUE(is_valid_utf8(plain));
    ASSERT_TRUE(markers_in_order(decoded));
    for (const std::string& f : decoded.field_texts) ASSERT_TRUE(is_valid_utf8(f));
    ASSERT_EQ(unmarked(decoded), plain);
  }
}

// ---------------------------------------------------------------------------------------------
// Strict UTF-16

TEST(DecodeUtf16Strict, Cases) {
  struct Row {
    const char* name;
    Payload bytes;
    std::optional<std::string> text;
  };
  const Row rows[] = {
      {"no units", {}, ""},
      {"ASCII and Hangul", test::utf16le(u"a\uD55C"), "a\xED\x95\x9C"},
      {"surrogate pair", test::utf16le(u"\xD83D\xDE00"), kGrin},
      {"low surrogate alone", test::utf16le(u"\xDE00"), std::nullopt},
      {"high surrogate alone", test::utf16le(u"\xD83D"), std::nullopt},
      {"high surrogate then a letter", test::utf16le(u"\xD83D\x0041"), std::nullopt},
      {"pair then a lone high at the end", test::utf16le(u"\xD83D\xDE00\xD83D"), std::nullopt},
      {"low before high", test::utf16le(u"\xDE00\xD83D"), std::nullopt},
      {"two highs then a low", test::utf16le(u"\xD83D\xD83D\xDE00"), std::nullopt},
      {"final odd byte ignored", with_odd_byte(test::utf16le(u"ok")), "ok"},
      {"odd byte cannot complete a pair", with_odd_byte(test::utf16le(u"\xD83D"), 0xDE),
       std::nullopt},
      {"control characters are kept", test::utf16le(u"\t\x0001"), std::string("\t\x01", 2)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(decode_utf16_strict(row.bytes), row.text);
  }
}

}  // namespace
}  // namespace paravox
