// Paragraph text: PARA_TEXT decoding and strict UTF-16.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_cursor.h"

namespace paravox {

// Control id of a click-here field, '%clk'.
inline constexpr std::uint32_t kClickHereId = 0x25636C6B;

// A decoded paragraph: `text` with a marker (U+E000, index in decimal, U+E000) in place of
// each closed click-here field, and the fields' contents in the order they were closed.
struct ParaText {
  std::string text;
  std::vector<std::string> field_texts;
};

// Decodes a PARA_TEXT payload (UTF-16LE with 1- and 8-unit control characters). Never
// fails: a final odd byte is ignored, a truncated 8-unit control ends decoding, unpaired
// surrogates are dropped, and a field left open keeps its text in place unmarked.
ParaText decode_para_text(Bytes payload);

// decode_para_text into `out`, replacing its contents but keeping the storage of its text and
// field list, so that a caller decoding many paragraphs allocates only as they grow. With
// `mark_notes`, each footnote or endnote control leaves kNoteMark where it stands.
void decode_para_text_into(Bytes payload, ParaText& out, bool mark_notes = false);

// Same scanning rule, characters only: every control, field starts included, is skipped.
std::string decode_para_text_plain(Bytes payload);

}  // namespace paravox
