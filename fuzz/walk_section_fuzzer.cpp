// The section walk and Markdown assembly over arbitrary section bytes.
#include <cstddef>
#include <cstdint>

#include "section_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  paravox::fuzz::walk_and_assemble(paravox::Bytes(data, size));
  return 0;
}
