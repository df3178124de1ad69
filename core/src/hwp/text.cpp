#include "hwp/text.h"

#include "document/text.h"

#include <charconv>

namespace paravox {
namespace {

constexpr std::uint16_t kFieldStart = 3;
constexpr std::uint16_t kFieldEnd = 4;
constexpr std::uint16_t kNoteControl = 17;  // a footnote or endnote

// An 8-unit control: the code and seven units of data.
constexpr std::size_t kWideControlBytes = 16;

// The format's extended (1-3, 11, 12, 14-18, 21-23) and inline (4-9, 19, 20) controls carry
// seven units of data after the code; the other codes below 32 stand alone.
constexpr bool is_wide_control(std::uint16_t code) noexcept {
  return (code >= 1 && code <= 9) || code == 11 || code == 12 || (code >= 14 && code <= 23);
}

constexpr bool is_surrogate(std::uint32_t u) noexcept {
  return u >= 0xD800 && u <= 0xDFFF;
}

// The put_* helpers write at dst[w], inside a buffer the caller has sized for them, and
// return the new end. They take a plain pointer because char stores may alias a
// std::string's own pointer, which would make the compiler reload it at every store.

// Writes code point `c` (U+0800 to U+FFFF) as UTF-8.
inline std::size_t put_three(char* dst, std::size_t w, std::uint32_t c) noexcept {
  dst[w] = static_cast<char>(0xE0 | (c >> 12));
  dst[w + 1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  dst[w + 2] = static_cast<char>(0x80 | (c & 0x3F));
  return w + 3;
}

// Writes code point `c` (U+0080 to U+07FF) as UTF-8.
inline std::size_t put_two(char* dst, std::size_t w, std::uint32_t c) noexcept {
  dst[w] = static_cast<char>(0xC0 | (c >> 6));
  dst[w + 1] = static_cast<char>(0x80 | (c & 0x3F));
  return w + 2;
}

inline std::size_t put_supplementary(char* dst, std::size_t w, std::uint32_t c) noexcept {
  dst[w] = static_cast<char>(0xF0 | (c >> 18));
  dst[w + 1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  dst[w + 2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  dst[w + 3] = static_cast<char>(0x80 | (c & 0x3F));
  return w + 4;
}

inline std::size_t put_marker(char* dst, std::size_t w, std::size_t index) noexcept {
  for (const char c : kFieldMark) dst[w++] = c;
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, index);
  (void)ec;  // 24 bytes hold any std::size_t
  for (const char* d = digits; d != end; ++d) dst[w++] = *d;
  for (const char c : kFieldMark) dst[w++] = c;
  return w;
}

// Largest output for an n-byte payload. A unit yields at most 3 bytes and a surrogate pair 4
// (less than its two units' 6). A marker (at most 6 + 20 bytes) replaces a field's characters
// and is paid for by the field start's 8 silent units plus the end's code unit (27 bytes of
// budget), so 3 bytes per unit bound every state. The slack only guards the arithmetic above.
constexpr std::size_t max_decoded_size(std::size_t n) noexcept {
  return 3 * (n / 2) + 32;
}

// The shared scanning rule, writing into `out` (its contents replaced, its storage reused).
// With `field_texts` set (the full decoder), '%clk' fields are lifted out: their characters
// are written in place, and on the field end moved to `field_texts` and replaced by the
// marker. A field still open at the end thus already has its characters in place in the
// text, unmarked. With `kMarkNotes` (the full profile) a note's control leaves kNoteMark.
//
// The branches test the commonest units first: Hangul and the other characters from U+0800
// to U+D7FF (three bytes each), then printable ASCII, then surrogates and the rest of the
// BMP, and the controls below U+0020 last.
template <bool kLiftFields, bool kMarkNotes = false>
void decode_units(Bytes payload, std::string& out, std::vector<std::string>* field_texts) {
  const std::size_t n = payload.size();
  out.clear();
  if (n < 2) return;
  out.resize(max_decoded_size(n));
  char* const dst = out.data();

  std::size_t w = 0;
  std::size_t p = 0;
  [[maybe_unused]] bool field_open = false;
  [[maybe_unused]] std::size_t field_begin = 0;

  // `p` stays even, so it is below `units_end` exactly when a whole unit is left.
  const std::size_t units_end = n - n % 2;
  while (p < units_end) {
    const std::uint16_t u = ByteCursor::load_u16(payload, p);
    // U+0800 to U+D7FF (Hangul and the CJK ideographs among them) in one comparison.
    if (static_cast<std::uint16_t>(u - 0x800) < 0xD800 - 0x800) {
      w = put_three(dst, w, u);
      p += 2;
      continue;
    }
    // Printable ASCII, U+0020 to U+007F, likewise.
    if (static_cast<std::uint16_t>(u - 0x20) < 0x80 - 0x20) {
      dst[w++] = static_cast<char>(u);
      p += 2;
      continue;
    }
    if (is_surrogate(u)) {
      // A high surrogate followed by a low one is a pair; any other surrogate is dropped.
      if (is_high_surrogate(u) && n - p >= 4) {
        const std::uint16_t v = ByteCursor::load_u16(payload, p + 2);
        if (is_low_surrogate(v)) {
          w = put_supplementary(dst, w, 0x10000 + ((u - 0xD800u) << 10) + (v - 0xDC00u));
          p += 4;
          continue;
        }
      }
      p += 2;
      continue;
    }
    if (u >= 0x800) {  // U+E000 to U+FFFF
      w = put_three(dst, w, u);
      p += 2;
      continue;
    }
    if (u >= 0x80) {
      w = put_two(dst, w, u);
      p += 2;
      continue;
    }
    if (!is_wide_control(u)) {
      p += 2;
      continue;
    }
    if constexpr (kMarkNotes) {
      // The mark's three bytes are paid for by the control's eight silent units.
      if (u == kNoteControl) {
        for (const char c : kNoteMark) dst[w++] = c;
      }
    }
    if constexpr (kLiftFields) {
      if (u == kFieldStart) {
        // A start whose control id cannot be read opens nothing.
        if (n - p < kWideControlBytes) break;
        if (!field_open && ByteCursor::load_u32(payload, p + 2) == kClickHereId) {
          field_open = true;
          field_begin = w;
        }
      } else if (u == kFieldEnd && field_open) {
        // Closed even when the end's own 16 bytes are cut short.
        field_texts->emplace_back(out, field_begin, w - field_begin);
        w = put_marker(dst, field_begin, field_texts->size() - 1);
        field_open = false;
      }
    }
    if (n - p < kWideControlBytes) break;
    p += kWideControlBytes;
  }
  out.resize(w);
}

}  // namespace

ParaText decode_para_text(Bytes payload) {
  ParaText result;
  decode_units<true>(payload, result.text, &result.field_texts);
  return result;
}

void decode_para_text_into(Bytes payload, ParaText& out, bool mark_notes) {
  out.field_texts.clear();
  if (mark_notes) {
    decode_units<true, true>(payload, out.text, &out.field_texts);
  } else {
    decode_units<true>(payload, out.text, &out.field_texts);
  }
}

std::string decode_para_text_plain(Bytes payload) {
  std::string out;
  decode_units<false>(payload, out, nullptr);
  return out;
}

}  // namespace paravox
