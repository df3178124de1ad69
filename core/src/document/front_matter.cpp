#include "document/front_matter.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

namespace paravox {
namespace {

constexpr std::int64_t kMicrosecondsPerDay = 86'400'000'000;

// The civil date of a day counted from 1970-01-01 (H. Hinnant's days-to-civil).
void civil_from_days(std::int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
  day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  year = static_cast<int>(year_of_era + era * 400 + (month <= 2 ? 1 : 0));
}

// The next code point of well-formed UTF-8 `text` at `at`, and its length.
char32_t decode_at(std::string_view text, std::size_t at, std::size_t& length) {
  const auto lead = static_cast<unsigned char>(text[at]);
  length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (at + length > text.size()) length = text.size() - at;
  char32_t c = length == 1   ? lead
               : length == 2 ? lead & 0x1F
               : length == 3 ? lead & 0x0F
                             : lead & 0x07;
  for (std::size_t k = 1; k < length; ++k) {
    c = (c << 6) | (static_cast<unsigned char>(text[at + k]) & 0x3F);
  }
  return c;
}

// Characters a YAML reader refuses unescaped: controls (tab and line feed are escaped anyway,
// as JSON does), DEL, the C1 controls, and U+FFFE and U+FFFF.
bool unprintable(char32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0xFFFE || c == 0xFFFF;
}

void append_quoted(std::string& out, std::string_view text) {
  out.push_back('"');
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 1;
    const char32_t c = decode_at(text, at, length);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (unprintable(c)) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out.append(text.substr(at, length));
        }
    }
    at += length;
  }
  out.push_back('"');
}

}  // namespace

std::string iso8601_utc(UnixMicroseconds time) {
  std::int64_t days = time / kMicrosecondsPerDay;
  std::int64_t rest = time % kMicrosecondsPerDay;
  if (rest < 0) {
    rest += kMicrosecondsPerDay;
    --days;
  }
  int year = 0, month = 0, day = 0;
  civil_from_days(days, year, month, day);
  const std::int64_t seconds = rest / 1'000'000;
  const auto microseconds = static_cast<unsigned>(rest % 1'000'000);
  char text[40];
  int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day,
                             static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                             static_cast<int>(seconds % 60));
  if (microseconds != 0) {
    length += std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), ".%06u",
                            microseconds);
  }
  return std::string(text, static_cast<std::size_t>(length)) + "Z";
}

std::string front_matter(const Metadata& metadata) {
  std::string yaml;
  for (const auto& [key, value] :
       {std::pair<std::string_view, const std::string&>{"title", metadata.title},
        {"subject", metadata.subject},
        {"author", metadata.author},
        {"keywords", metadata.keywords},
        {"comments", metadata.comments},
        {"last_saved_by", metadata.last_saved_by}}) {
    if (value.empty()) continue;
    yaml.append(key);
    yaml += ": ";
    append_quoted(yaml, value);
    yaml += '\n';
  }
  for (const auto& [key, value] :
       {std::pair<std::string_view, const std::optional<UnixMicroseconds>&>{"created",
                                                                            metadata.created},
        {"modified", metadata.modified}}) {
    if (!value) continue;
    yaml.append(key);
    yaml += ": ";
    yaml += iso8601_utc(*value);
    yaml += '\n';
  }
  if (yaml.empty()) return yaml;
  return "---\n" + yaml + "---";
}

std::string with_front_matter(const Metadata& metadata, std::string markdown) {
  std::string block = front_matter(metadata);
  if (block.empty()) return markdown;
  if (!markdown.empty()) {
    block += "\n\n";
    block += markdown;
  }
  return block;
}

}  // namespace paravox
