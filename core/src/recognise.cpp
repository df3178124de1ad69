#include "recognise.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace paravox {
namespace {

constexpr std::array<std::uint8_t, 8> kCompoundFileSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                                0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kZipLocalHeader = 0x04034B50;

std::string_view as_text(Bytes bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool starts_with(Bytes bytes, std::string_view prefix) {
  return as_text(bytes).starts_with(prefix);
}

// Control characters that text files hold; any other C0 control (or a NUL) marks binary data.
bool is_text_control(std::uint32_t c) {
  return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1B;
}

bool is_acceptable_code_point(std::uint32_t c) {
  return c >= 0x20 || is_text_control(c);
}

// Valid UTF-8 of acceptable code points. A sequence cut by the end of the head counts as
// valid when the input goes on past it.
bool is_utf8_text(Bytes bytes, bool cut) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::uint8_t lead = bytes[i];
    if (lead < 0x80) {
      if (!is_acceptable_code_point(lead)) return false;
      ++i;
      continue;
    }
    std::size_t length = 0;
    std::uint32_t c = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      c = lead & 0x07;
    } else {
      return false;
    }
    if (bytes.size() - i < length) return cut;
    for (std::size_t k = 1; k < length; ++k) {
      const std::uint8_t next = bytes[i + k];
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF.
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
        (c >= 0xD800 && c <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

// UTF-16 in the given byte order, of acceptable code points with paired surrogates.
bool is_utf16_text(Bytes bytes, bool big_endian, bool cut) {
  const std::size_t units = bytes.size() / 2;
  if (bytes.size() % 2 != 0 && !cut) return false;
  auto unit = [&](std::size_t k) -> std::uint32_t {
    const std::uint8_t a = bytes[2 * k];
    const std::uint8_t b = bytes[2 * k + 1];
    return big_endian ? (std::uint32_t{a} << 8 | b) : (std::uint32_t{b} << 8 | a);
  };
  for (std::size_t k = 0; k < units; ++k) {
    const std::uint32_t c = unit(k);
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (k + 1 == units) return cut;
      const std::uint32_t low = unit(k + 1);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      ++k;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    } else if (!is_acceptable_code_point(c)) {
      return false;
    }
  }
  return true;
}

// The ASCII characters at the start of `head` as text: UTF-8 without its byte-order mark,
// or UTF-16 with one, narrowed while the characters are ASCII.
std::string ascii_start(Bytes head) {
  std::string out;
  if (head.size() >= 2 && (starts_with(head, "\xFF\xFE") || starts_with(head, "\xFE\xFF"))) {
    const bool big_endian = head[0] == 0xFE;
    for (std::size_t i = 2; i + 1 < head.size(); i += 2) {
      const std::uint8_t high = big_endian ? head[i] : head[i + 1];
      const std::uint8_t low = big_endian ? head[i + 1] : head[i];
      if (high != 0 || low >= 0x80 || low == 0) break;
      out.push_back(static_cast<char>(low));
    }
    return out;
  }
  std::size_t start = starts_with(head, "\xEF\xBB\xBF") ? 3 : 0;
  for (std::size_t i = start; i < head.size() && head[i] < 0x80 && head[i] != 0; ++i) {
    out.push_back(static_cast<char>(head[i]));
  }
  return out;
}

// The name of the root element of the XML document starting `text`, past the XML
// declaration, processing instructions, comments and a document type declaration; nothing
// when `text` does not start like an XML document.
std::optional<std::string_view> xml_root_name(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  std::size_t at = 0;
  for (;;) {
    at = text.find_first_not_of(kSpace, at);
    if (at == std::string_view::npos || text[at] != '<') return std::nullopt;
    const std::string_view rest = text.substr(at);
    std::size_t end = std::string_view::npos;
    if (rest.starts_with("<?")) {
      end = rest.find("?>");
      if (end != std::string_view::npos) end += 2;
    } else if (rest.starts_with("<!--")) {
      end = rest.find("-->");
      if (end != std::string_view::npos) end += 3;
    } else if (rest.starts_with("<!DOCTYPE")) {
      // An internal subset in brackets may hold '>' characters of its own.
      const std::size_t bracket = rest.find('[');
      const std::size_t close = rest.find('>');
      if (bracket != std::string_view::npos && bracket < close) {
        end = rest.find("]", bracket);
        if (end != std::string_view::npos) end = rest.find('>', end);
      } else {
        end = close;
      }
      if (end != std::string_view::npos) end += 1;
    } else {
      const std::string_view name = rest.substr(1, rest.find_first_of(" \t\r\n/>", 1) - 1);
      if (name.empty()) return std::nullopt;
      return name;
    }
    if (end == std::string_view::npos) return std::nullopt;
    at += end;
  }
}

}  // namespace

InputKind recognise(Bytes head, std::uint64_t size) {
  if (size == 0) return InputKind::Empty;
  const bool cut = size > std::min<std::uint64_t>(head.size(), kHeadSize);
  head = head.first(std::min(head.size(), kHeadSize));

  if (std::ranges::equal(head.first(std::min(head.size(), kCompoundFileSignature.size())),
                         kCompoundFileSignature) &&
      head.size() >= kCompoundFileSignature.size()) {
    return InputKind::CompoundFile;
  }
  if (u32_at(head, 0) == kZipLocalHeader) return InputKind::Zip;
  if (starts_with(head, "%PDF-")) return InputKind::Pdf;
  if (starts_with(head, "HWP Document File V3.00")) return InputKind::Hwp3;
  if (starts_with(head, "<MARKANY_DOCUMENTSAFER>")) return InputKind::MarkAnyDrm;
  // The root's name views this text, which must outlive it.
  const std::string start = ascii_start(head);
  if (const auto root = xml_root_name(start); root && *root == "HWPML") return InputKind::Hwpml;
  if (starts_with(head, "\xFF\xFE") || starts_with(head, "\xFE\xFF")) {
    if (is_utf16_text(head.subspan(2), head[0] == 0xFE, cut)) return InputKind::PlainText;
  } else {
    const std::size_t bom = starts_with(head, "\xEF\xBB\xBF") ? 3 : 0;
    if (is_utf8_text(head.subspan(bom), cut)) return InputKind::PlainText;
  }
  return InputKind::Unrecognised;
}

}  // namespace paravox
