// The CRC-32 of ZIP entries (zlib's crc32).
#pragma once

#include <cstdint>

#include "base/byte_cursor.h"

namespace paravox {

// The CRC-32 of `bytes`, as zlib's crc32(0, ...) gives it. On processors with carry-less
// multiplication it folds 64 bytes at a time (about a tenth of zlib's instructions a byte).
std::uint32_t crc32_of(Bytes bytes) noexcept;

}  // namespace paravox
