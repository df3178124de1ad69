// Click-here fields: rendering, marker substitution, paragraph finishing and cell text.
#include "document/fields.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/error.h"
#include "document/text.h"
#include "hwp/text.h"
#include "text_writer.h"

namespace paravox {
namespace {

using test::field_end;
using test::field_start;
using test::marked;
using test::Payload;

// ---------------------------------------------------------------------------------------------
// render_field

TEST(RenderField, OutcomeTable) {
  struct Row {
    const char* name;
    FieldInfo field;
    std::string shown;
    std::string rendered;
  };
  const Row rows[] = {
      {"clear, no direction, no text", {"name", "", false}, "", "{{name}}"},
      {"clear, no direction, text left out", {"name", "", false}, "typed", "{{name}}"},
      {"clear, direction, no text", {"name", "D", false}, "", "{{name: D}}"},
      {"clear, direction, same text", {"name", "D", false}, "D", "{{name: D}}"},
      {"clear, direction, other text", {"name", "D", false}, "S", "{{name: D --> S}}"},
      {"set, no direction, no text", {"name", "", true}, "", "{{name}}"},
      {"set, no direction, text", {"name", "", true}, "S", "{{name --> S}}"},
      {"set, direction, no text", {"name", "D", true}, "", "{{name: D}}"},
      {"set, direction, other text", {"name", "D", true}, "S", "{{name: D --> S}}"},
      {"set, direction, same text", {"name", "D", true}, "D", "{{name: D --> D}}"},
      {"all empty", {"", "", false}, "", "{{}}"},
      {"empty name, set, text", {"", "", true}, "S", "{{ --> S}}"},
      {"empty name with direction", {"", "D", false}, "S", "{{: D --> S}}"},
      {"direction differs in a trailing space",
       {"n", "Enter", false},
       "Enter ",
       "{{n: Enter --> Enter }}"},
      {"Hangul",
       {"\xEC\x9D\xB4\xEB\xA6\x84", "\xEC\x9E\x85\xEB\xA0\xA5", false},
       "\xED\x99\x8D",
       "{{\xEC\x9D\xB4\xEB\xA6\x84: \xEC\x9E\x85\xEB\xA0\xA5 --> \xED\x99\x8D}}"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(render_field(row.field, row.shown), row.rendered);
  }
}

// ---------------------------------------------------------------------------------------------
// substitute_field_markers

// The passes exactly as stated: for N ascending, every occurrence of marker N, leftmost first
// and without overlap, replaced by render_field of info N (or the plain text N).
std::string substitute_by_passes(const PendingParagraph& paragraph) {
  std::string s = paragraph.text;
  for (std::size_t n = 0; n < paragraph.field_texts.size(); ++n) {
    const std::string marker = "\xEE\x80\x80" + std::to_string(n) + "\xEE\x80\x80";
    const std::string replacement =
        n < paragraph.field_infos.size()
            ? render_field(paragraph.field_infos[n], paragraph.field_texts[n])
            : paragraph.field_texts[n];
    std::string out;
    std::size_t copied = 0;
    for (std::size_t at = s.find(marker); at != std::string::npos; at = s.find(marker, copied)) {
      out.append(s, copied, at - copied);
      out += replacement;
      copied = at + marker.size();
    }
    out.append(s, copied);
    s = std::move(out);
  }
  return s;
}

// '#' stands for U+E000 in every string.
PendingParagraph paragraph(std::string_view text, std::vector<std::string> field_texts,
                           std::vector<FieldInfo> infos = {}) {
  PendingParagraph p;
  p.text = marked(text);
  for (const std::string& t : field_texts) p.field_texts.push_back(marked(t));
  for (FieldInfo& info : infos) {
    info.name = marked(info.name);
    info.direction = marked(info.direction);
    p.field_infos.push_back(std::move(info));
  }
  return p;
}

std::vector<std::string> letters(std::size_t count) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < count; ++i) out.push_back(std::string(1, static_cast<char>('A' + i)));
  return out;
}

// `count` field texts "v", except the given ones.
std::vector<std::string> texts_with(std::size_t count,
                                    std::vector<std::pair<std::size_t, std::string>> given) {
  std::vector<std::string> out(count, "v");
  for (auto& [index, text] : given) out[index] = text;
  return out;
}

TEST(SubstituteFieldMarkers, Cases) {
  struct Row {
    const char* name;
    PendingParagraph paragraph;
    std::string result;  // '#' stands for U+E000
    bool one_pass;
  };
  const Row rows[] = {
      {"no fields: unchanged, markers too", paragraph("a#0#b", {}), "a#0#b", true},
      {"one field rendered", paragraph("x#0#y", {"ab"}, {{"n", "", true}}), "x{{n --> ab}}y", true},
      {"second field without info shows its text",
       paragraph("#0#, #1#", {"a", "b"}, {{"n", "", false}}), "{{n}}, b", true},
      {"markers 1 and 10 are distinct", paragraph("#1# #10#", letters(11)), "B K", true},
      {"marker 10 before marker 1", paragraph("#10##1#", letters(11)), "KB", true},
      {"index past the fields stays", paragraph("#0##5#", {"a"}), "a#5#", true},
      {"leading zero is not a marker", paragraph("#01##1#", letters(2)), "#01#B", true},
      {"document text spelling a marker is replaced", paragraph("#0# and #0#", {"x"}), "x and x",
       true},
      {"stray marks around a marker", paragraph("## #0# #", {"x"}), "## x #", true},
      {"digits between two markers, past the fields", paragraph("#0#5#1#", letters(2)), "A5B",
       true},
      {"digits between two markers spelling a higher index", paragraph("#0#1#2#", letters(3)),
       "A1C", true},
      {"digits between two markers spelling the first index", paragraph("#1#1#2#", letters(3)),
       "B1C", true},
      {"digits between two markers spelling a lower index", paragraph("#4#2#5#", letters(6)),
       "#4C5#", false},
      {"chain where the right neighbour destroys the middle", paragraph("#3#2#1#", letters(4)),
       "D2B", true},
      {"chain where the left neighbour destroys the middle", paragraph("#2#3#1#", letters(4)),
       "C3B", true},
      {"chain where the middle comes first", paragraph("#3#1#2#", letters(4)), "#3B2#", false},
      {"chain where the middle ties with its right", paragraph("#3#1#1#", letters(4)), "#3B1#",
       false},
      {"chain where equal indices alternate", paragraph("#1#1#1#1#", letters(2)), "B1B1#", true},
      {"empty field", paragraph("[#0#]", {""}), "[]", true},
      {"field texts shown plain when all infos are missing", paragraph("#0##1#", {"1", "2"}), "12",
       true},
      // Text crafted so that one pass would differ from the passes.
      {"adjacent markers, the smaller index wins", paragraph("#5#3#", letters(8)), "#5D", false},
      {"adjacent equal markers alternate", paragraph("#0#0#0#", {"X"}), "X0X", true},
      {"replacement spelling a marker with the marks around it", paragraph("##0##", {"1", "X"}),
       "X", false},
      {"replacement holding a later marker", paragraph("#0#", {"#1#", "B"}), "B", false},
      {"replacement holding an earlier marker", paragraph("#1#", {"A", "#0#"}), "#0#", false},
      {"replacement holding its own marker", paragraph("#0#", {"#0#"}), "#0#", false},
      {"rendered name holding a marker", paragraph("#0#", {"a", "B"}, {{"#1#", "", false}}),
       "{{B}}", false},
      {"merged digits spelling a marker",
       paragraph("##0#05#", texts_with(106, {{0, "1"}, {105, "Z"}})), "Z", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(substitute_field_markers(row.paragraph), marked(row.result));
    EXPECT_EQ(substitute_by_passes(row.paragraph), marked(row.result));
    EXPECT_EQ(substitutes_in_one_pass(row.paragraph), row.one_pass);
  }
}

// Random paragraphs built from marks, digits, markers and letters, with field texts, names
// and guide texts that may hold marks and digits: the result always equals the passes, and
// both the one-pass and the pass-by-pass routes are taken many times.
TEST(SubstituteFieldMarkers, EqualsThePassesOnGeneratedParagraphs) {
  std::mt19937 rng(7);
  const auto pick = [&](const std::vector<std::string>& from) { return from[rng() % from.size()]; };
  const std::vector<std::string> field_texts = {"",   "",  "x",   "x",   "typed", "0",  "5",
                                                "12", "#", "#0#", "#1#", "3#",    "#2", "01"};
  const std::vector<std::string> names = {"", "n", "n", "name", "1", "#", "#0#"};
  const std::vector<std::string> directions = {"", "", "D", "x", "typed", "#1#"};
  std::size_t one_pass = 0;
  std::size_t by_passes = 0;
  for (int round = 0; round < 60000; ++round) {
    const std::size_t field_count = 1 + rng() % 12;
    std::string text;
    const int pieces = static_cast<int>(rng() % 12);
    for (int i = 0; i < pieces; ++i) {
      switch (rng() % 9) {
        case 0:
        case 1:
        case 2:
          text += "#" + std::to_string(rng() % (field_count + 2)) + "#";
          break;
        case 3:
          text += "#";
          break;
        case 4:
          text += std::to_string(rng() % 12);
          break;
        case 5:
          text += "0";
          break;
        case 6:
          text += " ";
          break;
        default:
          text += "ab";
          break;
      }
    }
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < field_count; ++i) texts.push_back(pick(field_texts));
    std::vector<FieldInfo> infos;
    const std::size_t info_count = rng() % 3 == 0 ? rng() % (field_count + 1) : field_count;
    for (std::size_t i = 0; i < info_count; ++i) {
      infos.push_back({pick(names), pick(directions), rng() % 2 == 0});
    }
    const PendingParagraph p = paragraph(text, texts, infos);
    SCOPED_TRACE("text " + text);
    ASSERT_EQ(substitute_field_markers(p), substitute_by_passes(p));
    (substitutes_in_one_pass(p) ? one_pass : by_passes)++;
  }
  EXPECT_GT(one_pass, 20000u);
  EXPECT_GT(by_passes, 5000u);
}

// Paragraphs as the decoder gives them, with every field's control attached, take the one-pass
// route (the property that keeps finishing linear) and equal the passes. Digits appear only
// beside other characters here; digits alone between two fields are in the table above.
TEST(SubstituteFieldMarkers, DecodedParagraphsTakeOnePass) {
  std::mt19937 rng(11);
  const std::vector<std::u16string> words = {u"a", u"7a", u"10 ", u" ", u"\uD55C", u"0-"};
  for (int round = 0; round < 3000; ++round) {
    std::u16string stream;
    const int pieces = static_cast<int>(rng() % 20);
    for (int i = 0; i < pieces; ++i) {
      switch (rng() % 4) {
        case 0:
          stream += field_start(kClickHereId);
          break;
        case 1:
          stream += field_end();
          break;
        default:
          stream += words[rng() % words.size()];
          break;
      }
    }
    const ParaText decoded = decode_para_text(test::utf16le(stream));
    PendingParagraph p{decoded.text, decoded.field_texts, {}};
    for (std::size_t i = 0; i < p.field_texts.size(); ++i) {
      p.field_infos.push_back({"f" + std::to_string(i), rng() % 2 ? "7" : "", rng() % 2 == 0});
    }
    ASSERT_TRUE(substitutes_in_one_pass(p));
    ASSERT_EQ(substitute_field_markers(p), substitute_by_passes(p));
    // Without infos the plain texts, digits among them, still equal the passes.
    p.field_infos.resize(rng() % (p.field_infos.size() + 1));
    ASSERT_EQ(substitute_field_markers(p), substitute_by_passes(p));
  }
}

// A million copies of a marker whose field renders a 60,000-character guide text would make
// tens of gigabytes: refused before building, on either route.
TEST(SubstituteFieldMarkers, RefusesOutputPastTheLimit) {
  std::string text;
  text.reserve(7'000'000);
  for (int i = 0; i < 1'000'000; ++i) text += marked("#0#");
  const FieldInfo big{"n", std::string(60'000, 'g'), true};

  const PendingParagraph one_pass{text, {"x"}, {big}};
  ASSERT_TRUE(substitutes_in_one_pass(one_pass));
  EXPECT_THROW(substitute_field_markers(one_pass), OutputLimitExceeded);

  const PendingParagraph by_passes{text, {marked("x#")}, {big}};
  ASSERT_FALSE(substitutes_in_one_pass(by_passes));
  EXPECT_THROW(substitute_field_markers(by_passes), OutputLimitExceeded);
}

// Text crafted to need the passes one by one, each copying the whole paragraph, is refused once
// the passes together would copy more than the limit; a smaller one is converted.
TEST(SubstituteFieldMarkers, PassesCopyAtMostTheLimitInAll) {
  const auto crafted = [](std::size_t filler, std::size_t fields) {
    PendingParagraph p;
    p.text.assign(filler, 'a');
    for (std::size_t i = 0; i < fields; ++i) append_field_marker(p.text, i);
    p.field_texts.assign(fields, "v");
    p.field_texts.back() = marked("#");  // a mark in a replacement forces the passes
    return p;
  };
  const PendingParagraph big = crafted(std::size_t{1} << 20, 300);
  ASSERT_FALSE(substitutes_in_one_pass(big));
  EXPECT_THROW(substitute_field_markers(big), OutputLimitExceeded);

  const PendingParagraph small = crafted(std::size_t{1} << 16, 300);
  ASSERT_FALSE(substitutes_in_one_pass(small));
  EXPECT_EQ(substitute_field_markers(small), substitute_by_passes(small));
}

// ---------------------------------------------------------------------------------------------
// finish_paragraph and finish_cell_paragraph

std::optional<PendingParagraph> slot_with(std::string_view text,
                                          std::vector<std::string> field_texts = {},
                                          std::vector<FieldInfo> infos = {}) {
  return paragraph(text, std::move(field_texts), std::move(infos));
}

TEST(FinishParagraph, Cases) {
  struct Row {
    const char* name;
    std::optional<PendingParagraph> slot;
    std::vector<std::string> blocks;
  };
  const Row rows[] = {
      {"no paragraph", std::nullopt, {}},
      {"empty paragraph", slot_with(""), {}},
      {"spaces and tabs only", slot_with(" \t \xE3\x80\x80"), {}},
      {"leading spaces kept", slot_with("  text "), {"  text "}},
      {"field substituted", slot_with(" a#0#", {"b"}, {{"n", "", true}}), {" a{{n --> b}}"}},
      {"empty field without info leaves nothing", slot_with(" #0# ", {""}), {}},
      {"field of spaces without info leaves nothing", slot_with("#0#", {"  "}), {}},
      {"empty field with info still renders", slot_with("#0#", {""}, {{"", "", false}}), {"{{}}"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::optional<PendingParagraph> slot = row.slot;
    std::vector<Block> blocks{Equation{"before"}};
    finish_paragraph(slot, blocks);
    EXPECT_FALSE(slot.has_value());
    ASSERT_EQ(blocks.size(), 1 + row.blocks.size());
    EXPECT_EQ(std::get<Equation>(blocks[0]).script, "before");
    for (std::size_t i = 0; i < row.blocks.size(); ++i) {
      ASSERT_TRUE(std::holds_alternative<Paragraph>(blocks[1 + i]));
      EXPECT_EQ(std::get<Paragraph>(blocks[1 + i]).text, row.blocks[i]);
    }
  }
}

TEST(FinishCellParagraph, Cases) {
  struct Row {
    const char* name;
    std::optional<PendingParagraph> slot;
    std::string cell_before;
    std::string cell_after;
  };
  const Row rows[] = {
      {"no paragraph", std::nullopt, "kept", "kept"},
      {"first text of the cell, trimmed", slot_with("  a b\t"), "", "a b"},
      {"second text after one space", slot_with(" c "), "a b", "a b c"},
      {"blank paragraph adds no space", slot_with(" \t "), "a", "a"},
      {"blank paragraph in an empty cell", slot_with(""), "", ""},
      {"cell text ending in a space still gets one", slot_with("c"), "a ", "a  c"},
      {"field substituted then trimmed", slot_with(" #0# ", {"v"}, {{"n", "v", false}}), "a",
       "a {{n: v}}"},
      {"field text of spaces trims away", slot_with("#0#", {" "}), "a", "a"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::optional<PendingParagraph> slot = row.slot;
    std::string cell = row.cell_before;
    finish_cell_paragraph(slot, cell);
    EXPECT_FALSE(slot.has_value());
    EXPECT_EQ(cell, row.cell_after);
  }
}

TEST(FlattenTableText, AppendsNonEmptyCellsWithSingleSpaces) {
  struct Case {
    std::string cell_text;
    Table nested;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"x", Table{{TableRow{{{"a"}, {""}}}, TableRow{{{"c"}, {"d"}}}}}, "x a c d"},
      {"", Table{{TableRow{{{""}, {"a"}}}, TableRow{{{"b"}}, 3}}}, "a b"},
      {"x", Table{{TableRow{{{""}}}}, 5}, "x"},
      {"", Table{{TableRow{{}, 4}}}, ""},
  };
  for (const Case& c : cases) {
    std::string text = c.cell_text;
    flatten_table_text(c.nested, text);
    EXPECT_EQ(text, c.expected);
  }
}

}  // namespace
}  // namespace paravox
