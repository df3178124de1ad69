#include "base/crc32.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define PARAVOX_CRC32_FOLDING 1
#endif

namespace paravox {
namespace {

// zlib's crc32 takes lengths in 32 bits.
std::uint32_t crc32_by_zlib(std::uint32_t crc, Bytes bytes) noexcept {
  while (!bytes.empty()) {
    const std::size_t n = std::min<std::size_t>(bytes.size(), std::size_t{1} << 30);
    crc = static_cast<std::uint32_t>(crc32(crc, bytes.data(), static_cast<uInt>(n)));
    bytes = bytes.subspan(n);
  }
  return crc;
}

#if defined(PARAVOX_CRC32_FOLDING)
#define PARAVOX_FOLDING_TARGET __attribute__((target("pclmul,sse4.1")))

PARAVOX_FOLDING_TARGET inline __m128i load_at(Bytes bytes, std::size_t at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.subspan(at, 16).data()));
}

// x times the two halves of `k`, added to `next`: one lane carried 128 or 512 bits on.
PARAVOX_FOLDING_TARGET inline __m128i fold_into(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// Folds `bytes` (64 or more, a multiple of 16) into the bit-reflected CRC register `crc`
// (pre-inverted): four 128-bit lanes folded 512 bits at a time, then into one lane, to 64
// bits and by Barrett reduction to 32, with the constants for the CRC-32 polynomial
// 0x04C11DB7 (x^n mod P for the fold distances, P and its Barrett quotient).
PARAVOX_FOLDING_TARGET std::uint32_t fold(std::uint32_t crc, Bytes bytes) noexcept {
  const __m128i fold_512 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i fold_128 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i fold_64 = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i barrett = _mm_set_epi64x(0x01f7011641, 0x01db710641);

  __m128i x1 = _mm_xor_si128(load_at(bytes, 0), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = load_at(bytes, 16);
  __m128i x3 = load_at(bytes, 32);
  __m128i x4 = load_at(bytes, 48);
  std::size_t at = 64;
  for (; bytes.size() - at >= 64; at += 64) {
    x1 = fold_into(x1, fold_512, load_at(bytes, at));
    x2 = fold_into(x2, fold_512, load_at(bytes, at + 16));
    x3 = fold_into(x3, fold_512, load_at(bytes, at + 32));
    x4 = fold_into(x4, fold_512, load_at(bytes, at + 48));
  }
  x1 = fold_into(x1, fold_128, x2);
  x1 = fold_into(x1, fold_128, x3);
  x1 = fold_into(x1, fold_128, x4);
  for (; bytes.size() - at >= 16; at += 16) x1 = fold_into(x1, fold_128, load_at(bytes, at));

  const __m128i low_32 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, fold_128, 0x10));
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low_32), fold_64, 0x00),
                     _mm_srli_si128(x1, 4));
  __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x1, low_32), barrett, 0x10);
  q = _mm_clmulepi64_si128(_mm_and_si128(q, low_32), barrett, 0x00);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, q), 1));
}
#endif

}  // namespace

std::uint32_t crc32_of(Bytes bytes) noexcept {
  std::uint32_t crc = 0;
#if defined(PARAVOX_CRC32_FOLDING)
  static const bool can_fold = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  if (can_fold && bytes.size() >= 64) {
    const std::size_t folded = bytes.size() & ~std::size_t{15};
    crc = ~fold(~crc, bytes.first(folded));
    bytes = bytes.subspan(folded);
  }
#endif
  return crc32_by_zlib(crc, bytes);
}

}  // namespace paravox
