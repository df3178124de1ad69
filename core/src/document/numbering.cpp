#include "document/numbering.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "document/text.h"

namespace paravox {
namespace {

void append_decimal(std::string& out, std::uint32_t value) {
  char digits[10];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  (void)ec;  // ten digits hold any 32-bit value
  out.append(digits, end);
}

// Roman numerals up to 3999, the largest they write without a bar; larger numbers, which no
// real list reaches, are written in digits.
void append_roman(std::string& out, std::uint32_t value, bool capital) {
  if (value == 0 || value > 3999) {
    append_decimal(out, value);
    return;
  }
  static constexpr std::array<std::pair<std::uint32_t, std::string_view>, 13> kCapital = {{
      {1000, "M"},
      {900, "CM"},
      {500, "D"},
      {400, "CD"},
      {100, "C"},
      {90, "XC"},
      {50, "L"},
      {40, "XL"},
      {10, "X"},
      {9, "IX"},
      {5, "V"},
      {4, "IV"},
      {1, "I"},
  }};
  for (const auto& [amount, letters] : kCapital) {
    for (; value >= amount; value -= amount) {
      for (const char c : letters) out.push_back(capital ? c : static_cast<char>(c - 'A' + 'a'));
    }
  }
}

// A, B, ..., Z, then AA, AB, ...: every value has its own letters, at most seven of them.
void append_latin(std::string& out, std::uint32_t value, char first) {
  if (value == 0) {
    append_decimal(out, value);
    return;
  }
  char letters[8];
  std::size_t n = 0;
  for (std::uint32_t v = value; v > 0; v = (v - 1) / 26) {
    letters[n++] = static_cast<char>(first + (v - 1) % 26);
  }
  while (n > 0) out.push_back(letters[--n]);
}

// Initial consonants ㄱ ㄴ ㄷ ㄹ ㅁ ㅂ ㅅ ㅇ ㅈ ㅊ ㅋ ㅌ ㅍ ㅎ as indices of the syllable block,
// and the same letters as compatibility jamo.
constexpr std::array<std::uint8_t, 14> kInitials = {0,  2,  3,  5,  6,  7,  9,
                                                    11, 12, 14, 15, 16, 17, 18};
constexpr std::array<char32_t, 14> kJamo = {0x3131, 0x3134, 0x3137, 0x3139, 0x3141, 0x3142, 0x3145,
                                            0x3147, 0x3148, 0x314A, 0x314B, 0x314C, 0x314D, 0x314E};
// Vowels ㅏ ㅓ ㅗ ㅜ ㅡ ㅣ: after 가 ... 하 Korean lists go on 거 ... 허, 고 ... 호, and so on.
constexpr std::array<std::uint8_t, 6> kVowels = {0, 4, 8, 13, 18, 20};

// 가 ... 하, 거 ... 허, 고 ... 호, 구 ... 후, 그 ... 흐, 기 ... 히, then 가 again.
void append_hangul_syllable(std::string& out, std::uint32_t value) {
  const std::uint32_t index = (value - 1) % (kInitials.size() * kVowels.size());
  const std::uint32_t initial = kInitials[index % kInitials.size()];
  const std::uint32_t vowel = kVowels[index / kInitials.size()];
  append_utf8(out, 0xAC00 + (initial * 21 + vowel) * 28);
}

// Sino-Korean (일, 이, 삼) or Chinese (一, 二, 三) numerals: 십이, 이십, 백, 천오, 일만, ...
// `digits` holds 1 to 9, `units` 10, 100, 1000, `groups` 10^4 and 10^8.
void append_numeral_words(std::string& out, std::uint32_t value,
                          const std::array<std::string_view, 9>& digits,
                          const std::array<std::string_view, 3>& units,
                          const std::array<std::string_view, 2>& groups) {
  if (value == 0) {
    append_decimal(out, value);
    return;
  }
  const std::array<std::uint32_t, 3> group_sizes = {100000000, 10000, 1};
  for (std::size_t g = 0; g < group_sizes.size(); ++g) {
    const std::uint32_t group = value / group_sizes[g] % 10000;
    if (group == 0) continue;
    const std::array<std::uint32_t, 4> places = {1000, 100, 10, 1};
    for (std::size_t p = 0; p < places.size(); ++p) {
      const std::uint32_t digit = group / places[p] % 10;
      if (digit == 0) continue;
      // "십", not "일십": one is left unsaid before ten, a hundred and a thousand.
      if (digit != 1 || p == 3) out += digits[digit - 1];
      if (p < 3) out += units[2 - p];
    }
    if (g < 2) out += groups[g];
  }
}

constexpr std::array<std::string_view, 9> kKoreanDigits = {"일", "이", "삼", "사", "오",
                                                           "육", "칠", "팔", "구"};
constexpr std::array<std::string_view, 3> kKoreanUnits = {"십", "백", "천"};
constexpr std::array<std::string_view, 2> kKoreanGroups = {"억", "만"};
constexpr std::array<std::string_view, 9> kChineseDigits = {"一", "二", "三", "四", "五",
                                                            "六", "七", "八", "九"};
constexpr std::array<std::string_view, 3> kChineseUnits = {"十", "百", "千"};
constexpr std::array<std::string_view, 2> kChineseGroups = {"億", "萬"};

constexpr std::array<std::string_view, 10> kStems = {"갑", "을", "병", "정", "무",
                                                     "기", "경", "신", "임", "계"};
constexpr std::array<std::string_view, 10> kStemsHanja = {"甲", "乙", "丙", "丁", "戊",
                                                          "己", "庚", "辛", "壬", "癸"};

// The circled digits Unicode has: 1-20, 21-35 and 36-50 in three runs.
bool append_circled_digit(std::string& out, std::uint32_t value) {
  if (value >= 1 && value <= 20) {
    append_utf8(out, 0x2460 + value - 1);
  } else if (value >= 21 && value <= 35) {
    append_utf8(out, 0x3251 + value - 21);
  } else if (value >= 36 && value <= 50) {
    append_utf8(out, 0x32B1 + value - 36);
  } else {
    return false;
  }
  return true;
}

// Writes character `first` + value - 1 when value is 1 to `count`.
bool append_from_run(std::string& out, std::uint32_t value, char32_t first, std::uint32_t count) {
  if (value < 1 || value > count) return false;
  append_utf8(out, first + value - 1);
  return true;
}

Numbering make_default_outline_numbering() {
  Numbering numbering;
  const std::array<std::string_view, 7> formats = {"^1.",  "^2.",  "^3)", "^4)",
                                                   "(^5)", "(^6)", "^7"};
  for (std::size_t i = 0; i < formats.size(); ++i) {
    numbering.levels[i].format = formats[i];
    numbering.levels[i].kind = i == 6       ? NumberKind::CircledDigit
                               : i % 2 == 0 ? NumberKind::Digit
                                            : NumberKind::HangulSyllable;
  }
  return numbering;
}

}  // namespace

void append_number(std::string& out, NumberKind kind, std::uint32_t value) {
  if (value == 0) {
    append_decimal(out, value);
    return;
  }
  switch (kind) {
    case NumberKind::Digit:
    case NumberKind::Symbol:
    case NumberKind::UserChar:
      break;
    case NumberKind::CircledDigit:
      if (append_circled_digit(out, value)) return;
      break;
    case NumberKind::RomanCapital:
    case NumberKind::RomanSmall:
      append_roman(out, value, kind == NumberKind::RomanCapital);
      return;
    case NumberKind::CircledLatinCapital:
      if (append_from_run(out, value, 0x24B6, 26)) return;
      [[fallthrough]];
    case NumberKind::LatinCapital:
      append_latin(out, value, 'A');
      return;
    case NumberKind::CircledLatinSmall:
      if (append_from_run(out, value, 0x24D0, 26)) return;
      [[fallthrough]];
    case NumberKind::LatinSmall:
      append_latin(out, value, 'a');
      return;
    case NumberKind::CircledHangulSyllable:
      if (append_from_run(out, value, 0x326E, 14)) return;
      [[fallthrough]];
    case NumberKind::HangulSyllable:
      append_hangul_syllable(out, value);
      return;
    case NumberKind::CircledHangulJamo:
      if (append_from_run(out, value, 0x3260, 14)) return;
      [[fallthrough]];
    case NumberKind::HangulJamo:
      append_utf8(out, kJamo[(value - 1) % kJamo.size()]);
      return;
    case NumberKind::HangulPhonetic:
      append_numeral_words(out, value, kKoreanDigits, kKoreanUnits, kKoreanGroups);
      return;
    case NumberKind::CircledIdeograph:
      if (append_from_run(out, value, 0x3280, 10)) return;
      [[fallthrough]];
    case NumberKind::Ideograph:
      append_numeral_words(out, value, kChineseDigits, kChineseUnits, kChineseGroups);
      return;
    case NumberKind::DecagonCircle:
      out += kStems[(value - 1) % kStems.size()];
      return;
    case NumberKind::DecagonCircleHanja:
      out += kStemsHanja[(value - 1) % kStemsHanja.size()];
      return;
  }
  append_decimal(out, value);
}

const Numbering& default_outline_numbering() {
  static const Numbering numbering = make_default_outline_numbering();
  return numbering;
}

void ParagraphNumbering::begin_section(std::uint16_t outline_numbering_id) noexcept {
  outline_id_ = outline_numbering_id <= styles_->numberings.size() ? outline_numbering_id : 0;
}

const ParagraphHead& ParagraphNumbering::next(std::uint16_t para_shape_id, std::uint16_t style_id) {
  const std::vector<ParaShape>& shapes = styles_->para_shapes;
  const std::vector<Style>& styles = styles_->styles;
  const ParaShape none;
  const ParaShape& shape = para_shape_id < shapes.size() ? shapes[para_shape_id] : none;
  const std::uint8_t style_outline = style_id < styles.size() ? styles[style_id].outline_level : 0;

  head_.kind = shape.head;
  head_.text.clear();
  if (shape.head == HeadKind::None) {
    head_.level = 0;
    head_.heading_level = style_outline;
    return head_;
  }
  head_.level = static_cast<std::uint8_t>(shape.level + 1);
  head_.heading_level = shape.head == HeadKind::Outline ? head_.level : style_outline;

  const std::size_t numbering_count = styles_->numberings.size();
  if (shape.head == HeadKind::Outline) {
    if (outline_counts_.empty()) outline_counts_.resize(numbering_count + 1, Counts{});
    const Numbering& numbering =
        outline_id_ == 0 ? default_outline_numbering() : styles_->numberings[outline_id_ - 1];
    count_and_write(numbering, outline_counts_[outline_id_], shape.level);
  } else if (shape.head == HeadKind::Number) {
    if (shape.head_id == 0 || shape.head_id > numbering_count) return head_;
    if (number_counts_.empty()) number_counts_.resize(numbering_count + 1, Counts{});
    count_and_write(styles_->numberings[shape.head_id - 1], number_counts_[shape.head_id],
                    shape.level);
  } else if (shape.head_id != 0 && shape.head_id <= styles_->bullets.size()) {
    head_.text = styles_->bullets[shape.head_id - 1].character;
  }
  return head_;
}

void ParagraphNumbering::count_and_write(const Numbering& numbering, Counts& counts,
                                         std::uint8_t level) {
  // A level's first paragraph shows its start; later ones count on, to the largest number.
  std::uint32_t& count = counts[level];
  if (count == 0) {
    count = std::max<std::uint32_t>(numbering.levels[level].start, 1);
  } else if (count != UINT32_MAX) {
    ++count;
  }
  for (std::size_t deeper = level + 1; deeper < counts.size(); ++deeper) counts[deeper] = 0;

  // "^k" writes level k's number in level k's kind ("^1.^2." at level 2: "1.가."), "^N" the
  // paragraph's own level; a level not counted yet shows its start.
  const std::string_view format = numbering.levels[level].format;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '^' && i + 1 < format.size()) {
      const char next = format[i + 1];
      std::size_t shown = kNumberingLevels;
      if (next >= '1' && next <= '9') shown = static_cast<std::size_t>(next - '1');
      if (next == 'N' || next == 'n') shown = level;
      if (shown < kNumberingLevels) {
        const NumberingLevel& definition = numbering.levels[shown];
        append_number(head_.text, definition.kind,
                      counts[shown] != 0 ? counts[shown] : definition.start);
        ++i;
        continue;
      }
    }
    head_.text.push_back(format[i]);
  }
}

}  // namespace paravox
