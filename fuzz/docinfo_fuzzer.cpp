// The DocInfo reader over arbitrary record bytes, and the paragraph numbering over what it
// reads.
#include <cstddef>
#include <cstdint>
#include <string>

#include "document/numbering.h"
#include "fuzz_checks.h"
#include "hwp/docinfo.h"

using paravox::fuzz::is_valid_utf8;
using paravox::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const paravox::DocumentStyles styles = paravox::read_docinfo(paravox::Bytes(data, size));

  // Each definition takes a record, and a record at least its 4-byte header.
  require(styles.para_shapes.size() + styles.numberings.size() + styles.bullets.size() +
                  styles.styles.size() + styles.binary_data.size() <=
              size / 4,
          "no more definitions than records the bytes can hold");
  for (const paravox::ParaShape& shape : styles.para_shapes) {
    require(shape.level < paravox::kNumberingLevels, "a level names one of ten");
  }
  for (const paravox::Numbering& numbering : styles.numberings) {
    for (const paravox::NumberingLevel& level : numbering.levels) {
      require(level.start >= 1, "a level starts at 1 or later");
      require(is_valid_utf8(level.format), "formats are UTF-8");
    }
  }
  for (const paravox::Style& style : styles.styles) {
    require(is_valid_utf8(style.name) && is_valid_utf8(style.english_name), "names are UTF-8");
    require(style.outline_level <= paravox::kNumberingLevels, "an outline level is 0 to 10");
  }

  // Every paragraph shape twice, under the default outline numbering and each defined one.
  paravox::ParagraphNumbering numbering(styles);
  const std::size_t sections = styles.numberings.size() < 4 ? styles.numberings.size() : 4;
  for (std::size_t section = 0; section <= sections; ++section) {
    numbering.begin_section(static_cast<std::uint16_t>(section));
    for (std::size_t pass = 0; pass < 2; ++pass) {
      for (std::size_t shape = 0; shape <= styles.para_shapes.size(); ++shape) {
        const paravox::ParagraphHead& head =
            numbering.next(static_cast<std::uint16_t>(shape), static_cast<std::uint16_t>(shape));
        require(is_valid_utf8(head.text), "number texts are UTF-8");
        require((head.kind == paravox::HeadKind::None) == (head.level == 0),
                "a head has a level, and only a head");
        require(head.heading_level <= paravox::kNumberingLevels, "a heading level is 0 to 10");
      }
    }
  }
  return 0;
}
