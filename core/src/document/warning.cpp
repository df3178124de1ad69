#include "document/warning.h"

namespace paravox {

Warning text_missing_from(std::string_view part, const ConvertError& error) {
  const WarningKind kind =
      error.cause() == ErrorCause::OverCeiling ? WarningKind::TooLarge : WarningKind::Damaged;
  return Warning{kind, "Text from " + std::string(part) + " on is missing: " + error.message()};
}

Warning end_missing(std::string_view part, std::string_view why) {
  return Warning{WarningKind::Damaged,
                 "Text at the end of " + std::string(part) + " is missing: " + std::string(why)};
}

}  // namespace paravox
