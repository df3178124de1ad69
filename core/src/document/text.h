// Text utilities both readers use: Unicode white space, trimming, UTF-8, strict UTF-16 and
// field markers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/byte_cursor.h"

namespace paravox {

// U+E000 in UTF-8: the private-use character that brackets a click-here field's index in a
// paragraph's text while the paragraph waits for its field controls.
inline constexpr std::string_view kFieldMark = "\xEE\x80\x80";
// U+E001 in UTF-8: where a footnote or endnote stands in a paragraph's text (full profile), until
// the paragraph is finished and the mark becomes a model::NoteReference. The same character in a
// document's own text is taken for a mark, and dropped with it.
inline constexpr std::string_view kNoteMark = "\xEE\x80\x81";

inline constexpr bool is_high_surrogate(std::uint32_t u) noexcept {
  return u >= 0xD800 && u <= 0xDBFF;
}
inline constexpr bool is_low_surrogate(std::uint32_t u) noexcept {
  return u >= 0xDC00 && u <= 0xDFFF;
}

// True for exactly the 25 code points with the Unicode White_Space property.
bool is_white_space(char32_t c) noexcept;

// `text` without leading and trailing white space (a view into `text`).
std::string_view trim_text(std::string_view text) noexcept;

// Appends marker `index` (U+E000, decimal digits, U+E000) to `out`.
void append_field_marker(std::string& out, std::size_t index);

// Appends code point `c` to `out` as UTF-8.
void append_utf8(std::string& out, char32_t c);

// Decodes `unit_bytes` (little-endian UTF-16 code units; a final odd byte is ignored)
// into UTF-8, up to the first NUL if any. Unpaired surrogates are dropped.
std::string decode_utf16(Bytes unit_bytes);

// Decodes `unit_bytes` (little-endian UTF-16 code units; a final odd byte is ignored)
// into UTF-8. Fails, with no partial result, on any unpaired surrogate.
std::optional<std::string> decode_utf16_strict(Bytes unit_bytes);

}  // namespace paravox
