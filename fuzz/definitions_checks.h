// Properties every reading of a document's definitions keeps, whatever its bytes, and the
// paragraph numbering run over them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "document/numbering.h"
#include "document/styles.h"
#include "fuzz_checks.h"

namespace paravox::fuzz {

inline void check_definitions(const DocumentStyles& styles) {
  for (const ParaShape& shape : styles.para_shapes) {
    require(shape.level < kNumberingLevels, "a level names one of ten");
  }
  for (const Numbering& numbering : styles.numberings) {
    for (const NumberingLevel& level : numbering.levels) {
      require(level.start >= 1, "a level starts at 1 or later");
      require(is_valid_utf8(level.format), "formats are UTF-8");
    }
  }
  for (const Bullet& bullet : styles.bullets) {
    require(is_valid_utf8(bullet.character), "bullets are UTF-8");
  }
  for (const Style& style : styles.styles) {
    require(is_valid_utf8(style.name) && is_valid_utf8(style.english_name), "names are UTF-8");
    require(style.outline_level <= kNumberingLevels, "an outline level is 0 to 10");
  }

  // Every paragraph shape twice, under the default outline numbering and the first few
  // defined ones, each shape's id doubling as a style id.
  ParagraphNumbering numbering(styles);
  const std::size_t sections = styles.numberings.size() < 4 ? styles.numberings.size() : 4;
  for (std::size_t section = 0; section <= sections; ++section) {
    numbering.begin_section(static_cast<std::uint16_t>(section));
    for (std::size_t pass = 0; pass < 2; ++pass) {
      for (std::size_t shape = 0; shape <= styles.para_shapes.size(); ++shape) {
        const ParagraphHead& head =
            numbering.next(static_cast<std::uint16_t>(shape), static_cast<std::uint16_t>(shape));
        require(is_valid_utf8(head.text), "number texts are UTF-8");
        require((head.kind == HeadKind::None) == (head.level == 0),
                "a head has a level, and only a head");
        require(head.heading_level <= kNumberingLevels, "a heading level is 0 to 10");
      }
    }
  }
}

}  // namespace paravox::fuzz
