// A compact text form of the definitions, one line per item, for tests to compare.
#pragma once

#include <string>

#include "document/styles.h"

namespace paravox::test {

inline std::string dump(const ParaShape& shape) {
  static const char* const kHeads[] = {"none", "outline", "number", "bullet"};
  return std::string(kHeads[static_cast<int>(shape.head)]) + " level " +
         std::to_string(shape.level) + " id " + std::to_string(shape.head_id);
}

// Levels as "format kind start" separated by '|', up to the last that differs from an
// empty level.
inline std::string dump(const Numbering& numbering) {
  std::size_t shown = numbering.levels.size();
  while (shown > 0 && numbering.levels[shown - 1].format.empty() &&
         numbering.levels[shown - 1].kind == NumberKind::Digit &&
         numbering.levels[shown - 1].start == 1) {
    --shown;
  }
  std::string out;
  for (std::size_t i = 0; i < shown; ++i) {
    const NumberingLevel& level = numbering.levels[i];
    if (i > 0) out += "|";
    out += level.format + " " + std::to_string(static_cast<int>(level.kind)) + " " +
           std::to_string(level.start);
  }
  return out;
}

inline std::string dump(const Style& style) {
  return style.name + "/" + style.english_name + (style.character ? " character" : "") + " shape " +
         std::to_string(style.para_shape) + " outline " + std::to_string(style.outline_level);
}

inline std::string dump(const BinaryDataItem& item) {
  return std::to_string(item.id) + " " + item.name + " kind " +
         std::to_string(static_cast<int>(item.kind)) + " compression " +
         std::to_string(static_cast<int>(item.compression)) + " " + item.extension + " " +
         item.path + " " + item.media_type;
}

inline std::string dump(const DocumentStyles& styles) {
  std::string out;
  for (const ParaShape& shape : styles.para_shapes) out += "shape " + dump(shape) + "\n";
  for (const Numbering& numbering : styles.numberings) {
    out += "numbering " + dump(numbering) + "\n";
  }
  for (const Bullet& bullet : styles.bullets) out += "bullet " + bullet.character + "\n";
  for (const Style& style : styles.styles) out += "style " + dump(style) + "\n";
  for (const BinaryDataItem& item : styles.binary_data) out += "binary " + dump(item) + "\n";
  return out;
}

}  // namespace paravox::test
