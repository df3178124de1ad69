// Naming, reading and inflating the body section streams.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/byte_cursor.h"
#include "base/error.h"
#include "base/inflate.h"
#include "base/large_memory.h"
#include "hwp/container.h"

namespace paravox {

// "/BodyText/Section" followed by `index` in decimal.
std::string section_stream_path(std::uint32_t index);

// Reads the section stream at `path`, inflated when `compressed` (a stored stream is always
// `ended`).
// Errors: CompoundFile (cause MissingStream when there is no such stream), Io (unreadable),
// Parse (inflation failure).
Result<Inflated> read_section_stream(Container& container, std::string_view path, bool compressed);

}  // namespace paravox
