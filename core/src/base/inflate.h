// Raw DEFLATE, as both formats store their compressed parts (binary sections and DocInfo,
// HWPX entries).
#pragma once

#include "base/byte_cursor.h"
#include "base/error.h"
#include "base/large_memory.h"

namespace paravox {

// What a raw DEFLATE stream inflates to.
struct Inflated {
  ByteBuffer bytes;
  // False when the input ended before the stream's final block: `bytes` holds what was
  // decoded up to there, and the rest of the stream is missing.
  bool ended = true;
};

// Inflates one raw DEFLATE stream (no zlib or gzip wrapper). Input that ends before the
// final block yields what was decoded so far, with `ended` false; bytes after the final block
// are ignored.
// Errors (kind Parse): "압축 해제 실패: corrupt deflate stream" for invalid data, and
// "압축 해제 실패: inflated section exceeds 268435456 bytes" (cause OverCeiling) when the
// output would pass kOutputLimit.
Result<Inflated> inflate_raw_stream(Bytes compressed);

// Like inflate_raw_stream, into a buffer sized for `limit` bytes (at most kOutputLimit),
// failing with the same too-large error (cause OverCeiling) when the stream would give more.
Result<Inflated> inflate_raw_stream(Bytes compressed, std::size_t limit);

// The bytes of inflate_raw_stream alone.
Result<ByteBuffer> inflate_raw(Bytes compressed);

}  // namespace paravox
