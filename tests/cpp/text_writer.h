// Writers for paragraph-text and click-here header payloads, so that tests state their input
// as text and controls rather than bytes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace paravox::test {

using Payload = std::vector<std::uint8_t>;

// Control codes of the paragraph character stream.
inline constexpr char16_t kFieldStartCode = 3;
inline constexpr char16_t kFieldEndCode = 4;
inline constexpr char16_t kTabCode = 9;
inline constexpr std::uint32_t kHyperlinkId = 0x25686C6B;  // '%hlk'

// An 8-unit control: the code, the 32-bit id in units 1-2, `fill` in units 3-6, the code again.
inline std::u16string wide_control(char16_t code, std::uint32_t id = 0, char16_t fill = 0) {
  std::u16string units(8, fill);
  units[0] = code;
  units[1] = static_cast<char16_t>(id & 0xFFFF);
  units[2] = static_cast<char16_t>(id >> 16);
  units[7] = code;
  return units;
}

// An 8-unit control whose seven data units all hold `fill` (a letter that must never show).
inline std::u16string control_filled(char16_t code, char16_t fill) {
  std::u16string units(8, fill);
  units[0] = code;
  return units;
}

inline std::u16string field_start(std::uint32_t id) {
  return wide_control(kFieldStartCode, id);
}
inline std::u16string field_end() {
  return wide_control(kFieldEndCode);
}
inline std::u16string tab() {
  return wide_control(kTabCode);
}

// Concatenated UTF-16 units (text may hold lone surrogates).
inline std::u16string units(std::initializer_list<std::u16string> pieces) {
  std::u16string all;
  for (const std::u16string& piece : pieces) all += piece;
  return all;
}

// Little-endian bytes of `units`.
inline Payload utf16le(std::u16string_view units) {
  Payload bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t u : units) {
    bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return bytes;
}

// A PARA_TEXT payload: the pieces (text and controls) in order.
inline Payload para_text(std::initializer_list<std::u16string> pieces) {
  return utf16le(units(pieces));
}

// The first `size` bytes of `payload`.
inline Payload prefix(const Payload& payload, std::size_t size) {
  return Payload(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(size));
}

// A '%clk' CTRL_HEADER payload: id, property word, extra property byte (9), command length
// (the command's own unless declared otherwise), command units, then trailing bytes.
// Converts to the payload bytes: click_here_header(u"...").properties(0x8000).
class ClickHereHeaderWriter {
 public:
  explicit ClickHereHeaderWriter(std::u16string command) : command_(std::move(command)) {}

  ClickHereHeaderWriter& properties(std::uint32_t value) {
    properties_ = value;
    return *this;
  }
  ClickHereHeaderWriter& extra(std::uint8_t value) {
    extra_ = value;
    return *this;
  }
  ClickHereHeaderWriter& declared_units(std::uint16_t value) {
    declared_units_ = value;
    return *this;
  }
  ClickHereHeaderWriter& trailing(Payload bytes) {
    trailing_ = std::move(bytes);
    return *this;
  }

  operator Payload() const {
    Payload bytes;
    const auto put_u32 = [&](std::uint32_t v) {
      for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<std::uint8_t>(v >> shift));
      }
    };
    put_u32(0x25636C6B);
    put_u32(properties_);
    bytes.push_back(extra_);
    const std::uint16_t declared =
        declared_units_.value_or(static_cast<std::uint16_t>(command_.size()));
    bytes.push_back(static_cast<std::uint8_t>(declared & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(declared >> 8));
    const Payload command = utf16le(command_);
    bytes.insert(bytes.end(), command.begin(), command.end());
    bytes.insert(bytes.end(), trailing_.begin(), trailing_.end());
    return bytes;
  }

 private:
  std::u16string command_;
  std::uint32_t properties_ = 0;
  std::uint8_t extra_ = 9;
  std::optional<std::uint16_t> declared_units_;
  Payload trailing_;
};

inline ClickHereHeaderWriter click_here_header(std::u16string command) {
  return ClickHereHeaderWriter(std::move(command));
}

// UTF-8 text with U+E000 written as '#', so expectations stay readable: "x#0#y".
inline std::string marked(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '#') {
      out += "\xEE\x80\x80";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace paravox::test
