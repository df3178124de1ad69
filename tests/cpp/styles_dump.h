// A compact text form of the definitions (one line per item) and of metadata, for tests to
// compare.
#pragma once

#include <string>

#include "document/styles.h"

namespace paravox::test {

inline std::string dump(const ParaShape& shape) {
  static const char* const kHeads[] = {"none", "outline", "number", "bullet"};
  return std::string(kHeads[static_cast<int>(shape.head)]) + " level " +
         std::to_string(shape.level) + " id " + std::to_string(shape.head_id);
}

// Levels as "format kind start", separated by '|', up to the last that is not empty.
inline std::string dump(const Numbering& numbering) {
  std::string out;
  std::size_t shown = 0;
  for (const NumberingLevel& level : numbering.levels) {
    out += level.format + " " + std::to_string(static_cast<int>(level.kind)) + " " +
           std::to_string(level.start) + "|";
    if (level.format.empty() && level.kind == NumberKind::Digit && level.start == 1) continue;
    shown = out.size() - 1;
  }
  return out.substr(0, shown);
}

inline std::string dump(const Style& style) {
  return style.name + "/" + style.english_name + (style.character ? " character" : "") + " shape " +
         std::to_string(style.para_shape) + " outline " + std::to_string(style.outline_level);
}

inline std::string dump(const DocumentStyles& styles) {
  std::string out;
  for (const ParaShape& shape : styles.para_shapes) out += "shape " + dump(shape) + "\n";
  for (const Numbering& numbering : styles.numberings) out += "numbering " + dump(numbering) + "\n";
  for (const Bullet& bullet : styles.bullets) out += "bullet " + bullet.character + "\n";
  for (const Style& style : styles.styles) out += "style " + dump(style) + "\n";
  for (const BinaryDataItem& item : styles.binary_data) {
    out += "binary " + std::to_string(item.id) + " " + item.name + " kind " +
           std::to_string(static_cast<int>(item.kind)) + " compression " +
           std::to_string(static_cast<int>(item.compression)) + " " + item.extension + " " +
           item.path + " " + item.media_type + "\n";
  }
  return out;
}

// The values separated by '|', times as microseconds or "-".
inline std::string dump(const Metadata& m) {
  const auto time = [](const std::optional<UnixMicroseconds>& t) {
    return t ? std::to_string(*t) : std::string("-");
  };
  return m.title + "|" + m.subject + "|" + m.author + "|" + m.keywords + "|" + m.comments + "|" +
         m.last_saved_by + "|" + time(m.created) + "|" + time(m.modified);
}

}  // namespace paravox::test
