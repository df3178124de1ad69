// What a reader says of a document it could read only in part.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace paravox {

// Why a part of a document is missing from its Markdown.
enum class WarningKind : std::uint8_t {
  Damaged,  // the part exists but cannot be read, inflated or parsed to its end
  TooLarge  // the part would inflate past kOutputLimit
};

// A part of a document that could not be read; the conversion went on without it.
struct Warning {
  WarningKind kind;
  std::string message;  // one line: what is missing, and why

  bool operator==(const Warning&) const = default;
};

// A document's Markdown, and a warning for each part of it that could not be read.
struct DocumentText {
  std::string markdown;
  std::vector<Warning> warnings;
};

// The warning that the text from `part` on is missing because reading it failed with `error`:
// "Text from /BodyText/Section1 on is missing: Parse error: ...", too large when `error` is a
// ceiling's.
Warning text_missing_from(std::string_view part, const ConvertError& error);

// The warning that the end of `part` is missing, `why` saying what cut it short.
Warning end_missing(std::string_view part, std::string_view why);

}  // namespace paravox
