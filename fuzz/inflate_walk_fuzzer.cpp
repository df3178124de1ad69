// Section inflation over arbitrary compressed bytes, then the walk over what it yields.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/error.h"
#include "base/inflate.h"
#include "hwp/section.h"
#include "section_walk.h"

using paravox::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto inflated = paravox::inflate_raw(paravox::Bytes(data, size));
  if (!inflated) {
    require(inflated.error().kind() == paravox::ErrorKind::Parse, "inflation fails as Parse");
    require(std::string_view(inflated.error().text()).starts_with("압축 해제 실패: "),
            "inflation failures name decompression");
    return 0;
  }
  require(inflated.value().size() <= paravox::kOutputLimit, "a section stays under the ceiling");
  paravox::fuzz::walk_and_assemble(inflated.value());
  return 0;
}
