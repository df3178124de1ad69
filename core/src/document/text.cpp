#include "document/text.h"

#include <charconv>

namespace paravox {

bool is_white_space(char32_t c) noexcept {
  switch (c) {
    case 0x0009:
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0020:
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

namespace {

constexpr bool is_continuation(unsigned char b) noexcept {
  return (b & 0xC0) == 0x80;
}

// Every white-space character takes 1 to 3 bytes in UTF-8, so a 4-byte sequence, and any
// malformed byte, simply counts as a character that is not white space.
// Length of the white-space character starting at text[at], or 0.
inline std::size_t white_space_at(std::string_view text, std::size_t at) noexcept {
  const std::size_t left = text.size() - at;
  const auto b0 = static_cast<unsigned char>(text[at]);
  if (b0 < 0x80) return b0 == ' ' || (b0 >= 0x09 && b0 <= 0x0D) ? 1 : 0;  // the ASCII ones
  if ((b0 & 0xE0) == 0xC0) {
    if (left < 2) return 0;
    const auto b1 = static_cast<unsigned char>(text[at + 1]);
    if (!is_continuation(b1)) return 0;
    return is_white_space(((b0 & 0x1Fu) << 6) | (b1 & 0x3Fu)) ? 2 : 0;
  }
  // Leads from 0xE4 start U+4000 and above (Hangul among them), where no white space lies.
  if (b0 >= 0xE4) return 0;
  if ((b0 & 0xF0) == 0xE0) {
    if (left < 3) return 0;
    const auto b1 = static_cast<unsigned char>(text[at + 1]);
    const auto b2 = static_cast<unsigned char>(text[at + 2]);
    if (!is_continuation(b1) || !is_continuation(b2)) return 0;
    return is_white_space(((b0 & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu)) ? 3 : 0;
  }
  return 0;
}

// Length of the white-space character that ends at text[end - 1] and starts at or after
// `front`, or 0.
std::size_t white_space_before(std::string_view text, std::size_t front, std::size_t end) noexcept {
  const std::size_t span = end - front;
  if (!is_continuation(static_cast<unsigned char>(text[end - 1]))) {
    return white_space_at(text.substr(0, end), end - 1) == 1 ? 1 : 0;
  }
  for (std::size_t len = 2; len <= 3 && len <= span; ++len) {
    const auto lead = static_cast<unsigned char>(text[end - len]);
    if (is_continuation(lead)) continue;
    return white_space_at(text.substr(0, end), end - len) == len ? len : 0;
  }
  return 0;
}

}  // namespace

std::string_view trim_text(std::string_view text) noexcept {
  std::size_t front = 0;
  while (front < text.size()) {
    const std::size_t len = white_space_at(text, front);
    if (len == 0) break;
    front += len;
  }
  if (front == text.size()) return {};
  std::size_t back = text.size();
  while (back > front) {
    const std::size_t len = white_space_before(text, front, back);
    if (len == 0) break;
    back -= len;
  }
  return text.substr(front, back - front);
}

void append_field_marker(std::string& out, std::size_t index) {
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, index);
  (void)ec;  // 24 bytes hold any std::size_t
  out.append(kFieldMark);
  out.append(digits, end);
  out.append(kFieldMark);
}

void append_utf8(std::string& out, char32_t c) {
  char bytes[4];
  std::size_t len;
  if (c < 0x80) {
    bytes[0] = static_cast<char>(c);
    len = 1;
  } else if (c < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (c >> 6));
    bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
    len = 2;
  } else if (c < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (c >> 12));
    bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
    len = 3;
  } else {
    bytes[0] = static_cast<char>(0xF0 | (c >> 18));
    bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
    len = 4;
  }
  out.append(bytes, len);
}

std::string decode_utf16(Bytes unit_bytes) {
  const std::size_t units = unit_bytes.size() / 2;
  std::string out;
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint16_t u = ByteCursor::load_u16(unit_bytes, 2 * i);
    if (u == 0) break;
    if (is_low_surrogate(u)) continue;
    if (!is_high_surrogate(u)) {
      append_utf8(out, u);
      continue;
    }
    if (i + 1 == units) break;
    const std::uint16_t v = ByteCursor::load_u16(unit_bytes, 2 * (i + 1));
    if (!is_low_surrogate(v)) continue;
    append_utf8(out, 0x10000 + ((u - 0xD800u) << 10) + (v - 0xDC00u));
    ++i;
  }
  return out;
}

std::optional<std::string> decode_utf16_strict(Bytes unit_bytes) {
  const std::size_t units = unit_bytes.size() / 2;
  std::string out;
  out.reserve(units * 3);
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint16_t u = ByteCursor::load_u16(unit_bytes, 2 * i);
    if (is_low_surrogate(u)) return std::nullopt;
    if (!is_high_surrogate(u)) {
      append_utf8(out, u);
      continue;
    }
    if (i + 1 == units) return std::nullopt;
    const std::uint16_t v = ByteCursor::load_u16(unit_bytes, 2 * (i + 1));
    if (!is_low_surrogate(v)) return std::nullopt;
    append_utf8(out, 0x10000 + ((u - 0xD800u) << 10) + (v - 0xDC00u));
    ++i;
  }
  return out;
}

}  // namespace paravox
