// Checks shared by the fuzz targets: properties every input must keep, whatever its bytes.
// A broken property aborts, so libFuzzer (or the replay program) reports the input.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// Leaves a function out of libFuzzer's coverage tracing.
#if defined(__clang__)
#define PARAVOX_NOT_TRACED __attribute__((no_sanitize("coverage")))
#else
#define PARAVOX_NOT_TRACED
#endif

namespace paravox::fuzz {

// Aborts with `what` when `holds` is false; used for properties, never for input validation.
inline void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", what);
  std::abort();
}

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF). Python decodes the module's output strictly, so anything else would surface
// as UnicodeDecodeError instead of a string. Left out of coverage tracing: outputs reach
// 256 MiB, and tracing every byte's comparisons would make the check cost more than the
// conversion.
PARAVOX_NOT_TRACED inline bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (n - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto unit = static_cast<unsigned char>(text[i + k]);
      const unsigned char min = k == 1 ? low : 0x80;
      const unsigned char max = k == 1 ? high : 0xBF;
      if (unit < min || unit > max) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace paravox::fuzz
