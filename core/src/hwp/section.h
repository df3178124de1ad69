// Naming, reading and inflating the body section streams.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "byte_cursor.h"
#include "document/error.h"
#include "hwp/container.h"
#include "large_memory.h"

namespace paravox {

// "/BodyText/Section" followed by `index` in decimal.
std::string section_stream_path(std::uint32_t index);

// Inflates one raw DEFLATE stream (no zlib or gzip wrapper). Input that ends before the
// final block yields what was decoded so far; bytes after the final block are ignored.
// Errors (kind Parse): "압축 해제 실패: corrupt deflate stream" for invalid data, and
// "압축 해제 실패: inflated section exceeds 268435456 bytes" when the output would pass
// kOutputLimit.
Result<ByteBuffer> inflate_section(Bytes compressed);

// Reads the section stream at `path`, inflated when `compressed`.
// Errors: CompoundFile (no such stream), Io (unreadable), Parse (inflation failure).
Result<ByteBuffer> read_section_stream(Container& container, std::string_view path,
                                       bool compressed);

}  // namespace paravox
