#include "document/styles.h"

namespace paravox {

void assign_style_outline_levels(DocumentStyles& styles) {
  for (Style& style : styles.styles) {
    if (style.character) {
      style.outline_level = 0;
      continue;
    }
    // English names are often left over from the template a style was renamed from.
    style.outline_level = outline_level_of_style_name(style.name);
    if (style.para_shape < styles.para_shapes.size()) {
      const ParaShape& shape = styles.para_shapes[style.para_shape];
      if (shape.head == HeadKind::Outline) {
        style.outline_level = static_cast<std::uint8_t>(shape.level + 1);
      }
    }
  }
}

std::uint8_t outline_level_of_style_name(std::string_view name) {
  std::string_view rest;
  if (name.starts_with("개요 ")) {
    rest = name.substr(std::string_view("개요 ").size());
  } else if (name.starts_with("Outline ")) {
    rest = name.substr(std::string_view("Outline ").size());
  } else {
    return 0;
  }
  if (rest == "10") return 10;
  if (rest.size() == 1 && rest[0] >= '1' && rest[0] <= '9') {
    return static_cast<std::uint8_t>(rest[0] - '0');
  }
  return 0;
}

std::optional<UnixMicroseconds> unix_microseconds(int year, int month, int day, int hour,
                                                  int minute, int second, int microsecond) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59 || microsecond < 0 || microsecond > 999999) {
    return std::nullopt;
  }
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int days_in_month = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  if (day < 1 || day > days_in_month) return std::nullopt;

  // Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
  const std::int64_t y = year - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t year_of_era = y - era * 400;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const std::int64_t days = era * 146097 + day_of_era - 719468;
  const std::int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return seconds * 1000000 + microsecond;
}

}  // namespace paravox
