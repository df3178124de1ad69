// The summary-information reader over arbitrary stream bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "document/text.h"
#include "fuzz_checks.h"
#include "hwp/summary.h"

using paravox::fuzz::is_valid_utf8;
using paravox::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const paravox::Metadata metadata = paravox::read_summary_information(paravox::Bytes(data, size));
  for (const std::string* text :
       {&metadata.title, &metadata.subject, &metadata.author, &metadata.keywords,
        &metadata.comments, &metadata.last_saved_by}) {
    require(is_valid_utf8(*text), "values are UTF-8");
    require(paravox::trim_text(*text).size() == text->size(), "values are trimmed");
    // A UTF-16 unit gives at most three bytes of UTF-8.
    require(text->size() <= size / 2 * 3, "a value is no longer than its bytes allow");
  }
  for (const auto& time : {metadata.created, metadata.modified}) {
    require(!time || (*time >= paravox::kEarliestTime && *time <= paravox::kLatestTime),
            "times lie in the years 1 to 9999");
  }
  return 0;
}
