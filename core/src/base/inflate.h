// Raw DEFLATE, as both formats store their compressed parts (binary sections and DocInfo,
// HWPX entries).
#pragma once

#include "base/byte_cursor.h"
#include "base/error.h"
#include "base/large_memory.h"

namespace paravox {

// Inflates one raw DEFLATE stream (no zlib or gzip wrapper). Input that ends before the
// final block yields what was decoded so far; bytes after the final block are ignored.
// Errors (kind Parse): "압축 해제 실패: corrupt deflate stream" for invalid data, and
// "압축 해제 실패: inflated section exceeds 268435456 bytes" (cause TooLarge) when the output
// would pass kOutputLimit.
Result<ByteBuffer> inflate_raw(Bytes compressed);

}  // namespace paravox
