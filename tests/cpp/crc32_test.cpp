#include "base/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

namespace paravox {
namespace {

// Every length around the folding's 16- and 64-byte steps, at every alignment of the start,
// gives zlib's CRC-32.
TEST(Crc32, AgreesWithZlibAtEveryLengthAndAlignment) {
  std::vector<std::uint8_t> bytes(4096 + 64);
  std::uint32_t state = 12345;
  for (std::uint8_t& b : bytes) {
    state = state * 1103515245 + 12345;
    b = static_cast<std::uint8_t>(state >> 24);
  }
  for (std::size_t start = 0; start < 16; ++start) {
    for (std::size_t length : {0, 1, 15, 16, 17, 63, 64, 65, 79, 80, 127, 128, 129, 1000, 4096}) {
      const Bytes piece = Bytes(bytes).subspan(start, length);
      EXPECT_EQ(crc32_of(piece), crc32(0, piece.data(), static_cast<uInt>(piece.size())))
          << "start " << start << ", length " << length;
    }
  }
}

}  // namespace
}  // namespace paravox
