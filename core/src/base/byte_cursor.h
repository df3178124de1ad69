// Bounds-checked little-endian reads over untrusted bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace paravox {

using Bytes = std::span<const std::uint8_t>;

// Reads little-endian values from a byte span. Every read checks `n <= remaining()`
// (never `pos + n <= size`, which can wrap) and fails without moving the cursor.
class ByteCursor {
 public:
  explicit ByteCursor(Bytes bytes) noexcept : bytes_(bytes) {}

  std::size_t remaining() const noexcept { return bytes_.size() - pos_; }

  std::optional<std::uint16_t> read_u16() noexcept {
    if (remaining() < 2) return std::nullopt;
    std::uint16_t v = load_u16(bytes_, pos_);
    pos_ += 2;
    return v;
  }
  std::optional<std::uint32_t> read_u32() noexcept {
    if (remaining() < 4) return std::nullopt;
    std::uint32_t v = load_u32(bytes_, pos_);
    pos_ += 4;
    return v;
  }
  // The next `n` bytes, or nothing when fewer remain.
  std::optional<Bytes> take(std::size_t n) noexcept {
    if (n > remaining()) return std::nullopt;
    Bytes out = bytes_.subspan(pos_, n);
    pos_ += n;
    return out;
  }
  bool skip(std::size_t n) noexcept {
    if (n > remaining()) return false;
    pos_ += n;
    return true;
  }

  // Unchecked-by-contract loads for callers that already tested the length. Copied out
  // whole, so alignment never matters; on a little-endian host that is one load.
  static std::uint16_t load_u16(Bytes b, std::size_t at) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
      std::uint16_t v;
      std::memcpy(&v, b.subspan(at, sizeof v).data(), sizeof v);
      return v;
    } else {
      return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
    }
  }
  static std::uint32_t load_u32(Bytes b, std::size_t at) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
      std::uint32_t v;
      std::memcpy(&v, b.subspan(at, sizeof v).data(), sizeof v);
      return v;
    } else {
      return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
             (static_cast<std::uint32_t>(b[at + 2]) << 16) |
             (static_cast<std::uint32_t>(b[at + 3]) << 24);
    }
  }

 private:
  Bytes bytes_;
  std::size_t pos_ = 0;
};

// Reads a little-endian u16 at `offset`, or nothing when the span is too short.
inline std::optional<std::uint16_t> u16_at(Bytes b, std::size_t offset) noexcept {
  if (offset > b.size() || b.size() - offset < 2) return std::nullopt;
  return ByteCursor::load_u16(b, offset);
}

// Reads a little-endian u32 at `offset`, or nothing when the span is too short.
inline std::optional<std::uint32_t> u32_at(Bytes b, std::size_t offset) noexcept {
  if (offset > b.size() || b.size() - offset < 4) return std::nullopt;
  return ByteCursor::load_u32(b, offset);
}

}  // namespace paravox
