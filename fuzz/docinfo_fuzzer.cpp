// The DocInfo reader over arbitrary record bytes, and the paragraph numbering over what it
// reads.
#include <cstddef>
#include <cstdint>

#include "definitions_checks.h"
#include "hwp/docinfo.h"

using paravox::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const paravox::DocumentStyles styles = paravox::read_docinfo(paravox::Bytes(data, size));
  // Each definition takes a record, and a record at least its 4-byte header.
  require(styles.para_shapes.size() + styles.numberings.size() + styles.bullets.size() +
                  styles.styles.size() + styles.binary_data.size() <=
              size / 4,
          "no more definitions than records the bytes can hold");
  paravox::fuzz::check_definitions(styles);
  return 0;
}
