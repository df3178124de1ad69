#include "document/numbering.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace paravox {
namespace {

TEST(NumberText, EveryKindWritesItsNumbersAndGoesOnPastItsCharacters) {
  // Each kind with numbers and the texts they give, separated by spaces.
  const std::vector<std::tuple<NumberKind, std::vector<std::uint32_t>, std::string>> cases = {
      {NumberKind::Digit, {1, 4294967295}, "1 4294967295"},
      {NumberKind::CircledDigit, {20, 21, 50, 51}, "⑳ ㉑ ㊿ 51"},
      {NumberKind::RomanCapital, {1994, 3999, 4000}, "MCMXCIV MMMCMXCIX 4000"},
      {NumberKind::RomanSmall, {4}, "iv"},
      {NumberKind::LatinCapital, {26, 27}, "Z AA"},
      {NumberKind::LatinSmall, {703}, "aaa"},
      {NumberKind::CircledLatinCapital, {1}, "Ⓐ"},
      {NumberKind::CircledLatinSmall, {26, 27}, "ⓩ aa"},
      {NumberKind::HangulSyllable, {14, 15, 30, 84, 85}, "하 거 노 히 가"},
      {NumberKind::CircledHangulSyllable, {14, 15}, "㉻ 거"},
      {NumberKind::HangulJamo, {14, 15}, "ㅎ ㄱ"},
      {NumberKind::CircledHangulJamo, {1, 16}, "㉠ ㄴ"},
      {NumberKind::HangulPhonetic,
       {10, 21, 105, 12345, 100000000},
       "십 이십일 백오 일만이천삼백사십오 일억"},
      {NumberKind::Ideograph, {2020}, "二千二十"},
      {NumberKind::CircledIdeograph, {10, 11}, "㊉ 十一"},
      {NumberKind::DecagonCircle, {10, 11}, "계 갑"},
      {NumberKind::DecagonCircleHanja, {2}, "乙"},
      {NumberKind::Symbol, {3}, "3"},
  };
  for (const auto& [kind, values, texts] : cases) {
    std::string written;
    for (const std::uint32_t value : values) {
      if (!written.empty()) written += ' ';
      append_number(written, kind, value);
    }
    EXPECT_EQ(written, texts) << "kind " << static_cast<int>(kind);
  }
}

// Definitions for the paragraphs below: numbering 1 writes "1." / "1.다." / "1.다.(A)",
// its level 2 starting at 3; numbering 2 writes "제1장" and "i)"; numbering 3 is an outline
// numbering "I." / "(ㄱ)"; bullet 1 is "●".
DocumentStyles definitions() {
  DocumentStyles styles;
  Numbering first;
  first.levels[0] = {"^1.", NumberKind::Digit, 1};
  first.levels[1] = {"^1.^2.", NumberKind::HangulSyllable, 3};
  first.levels[2] = {"^1.^2.(^N)", NumberKind::LatinCapital, 1};
  Numbering second;
  second.levels[0] = {"제^1장", NumberKind::Digit, 1};
  second.levels[1] = {"^2)", NumberKind::RomanSmall, 1};
  Numbering outline;
  outline.levels[0] = {"^1.", NumberKind::RomanCapital, 1};
  outline.levels[1] = {"(^2)", NumberKind::HangulJamo, 1};
  styles.numberings = {first, second, outline};
  styles.bullets = {{"●"}};
  styles.para_shapes = {
      {HeadKind::None, 0, 0},     // 0
      {HeadKind::Number, 0, 1},   // 1: numbering 1, level 1
      {HeadKind::Number, 1, 1},   // 2: numbering 1, level 2
      {HeadKind::Number, 2, 1},   // 3: numbering 1, level 3
      {HeadKind::Number, 0, 2},   // 4: numbering 2, level 1
      {HeadKind::Number, 1, 2},   // 5: numbering 2, level 2
      {HeadKind::Outline, 0, 0},  // 6: outline level 1
      {HeadKind::Outline, 1, 0},  // 7: outline level 2
      {HeadKind::Bullet, 0, 1},   // 8
      {HeadKind::Number, 0, 9},   // 9: a numbering that does not exist
      {HeadKind::Bullet, 2, 7},   // 10: a bullet that does not exist
  };
  styles.styles = {{.name = "바탕글", .english_name = "Normal"},
                   {.name = "개요 2", .english_name = "Outline 2", .outline_level = 2}};
  return styles;
}

TEST(ParagraphNumbering, CountsEachNumberingAcrossTheDocumentAsTheWordProcessorShowsIt) {
  const DocumentStyles styles = definitions();
  struct Step {
    int section;  // >= 0: a section with this outline numbering begins before the paragraph
    std::uint16_t shape;
    std::uint16_t style;
    std::string shown;  // kind, level, heading level, text
  };
  const std::vector<Step> steps = {
      {-1, 0, 0, "none 0 0 ''"},
      {-1, 1, 0, "number 1 0 '1.'"},
      {-1, 2, 0, "number 2 0 '1.다.'"},  // level 2 starts at 3
      {-1, 2, 0, "number 2 0 '1.라.'"},
      {-1, 3, 0, "number 3 0 '1.라.(A)'"},
      {-1, 1, 0, "number 1 0 '2.'"},        // a shallower level starts the deeper ones again
      {-1, 3, 0, "number 3 0 '2.다.(A)'"},  // a skipped level shows its start
      {-1, 4, 0, "number 1 0 '제1장'"},     // another numbering counts on its own
      {-1, 5, 0, "number 2 0 'i)'"},
      {-1, 0, 0, "none 0 0 ''"},
      {-1, 2, 0, "number 2 0 '2.다.'"},  // numbering 1 goes on where it was
      {-1, 5, 0, "number 2 0 'ii)'"},
      {-1, 6, 0, "outline 1 1 '1.'"},  // no section yet: the default outline numbering
      {-1, 7, 0, "outline 2 2 '가.'"},
      {3, 6, 0, "outline 1 1 'I.'"},  // a section naming numbering 3
      {-1, 7, 0, "outline 2 2 '(ㄱ)'"},
      {-1, 7, 0, "outline 2 2 '(ㄴ)'"},
      {0, 7, 0, "outline 2 2 '나.'"},  // back to the default outline numbering's own counts
      {3, 6, 0, "outline 1 1 'II.'"},
      {-1, 0, 1, "none 0 2 ''"},  // an outline style makes a heading without a number
      {-1, 1, 1, "number 1 2 '3.'"},
      {-1, 8, 0, "bullet 1 0 '●'"},
      {-1, 9, 0, "number 1 0 ''"},
      {-1, 10, 0, "bullet 3 0 ''"},
      {-1, 500, 9, "none 0 0 ''"},
  };
  ParagraphNumbering numbering(styles);
  const char* const kinds[] = {"none", "outline", "number", "bullet"};
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    if (step.section >= 0) numbering.begin_section(static_cast<std::uint16_t>(step.section));
    const ParagraphHead& head = numbering.next(step.shape, step.style);
    const std::string shown = std::string(kinds[static_cast<int>(head.kind)]) + " " +
                              std::to_string(head.level) + " " +
                              std::to_string(head.heading_level) + " '" + head.text + "'";
    EXPECT_EQ(shown, step.shown) << "paragraph " << i;
  }
}

}  // namespace
}  // namespace paravox
