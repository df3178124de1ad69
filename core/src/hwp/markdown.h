// Writing the collected blocks as one Markdown text.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "hwp/block.h"

namespace paravox {

// Number of bytes assemble_markdown writes for `block` before the final trim.
std::uint64_t assembled_size(const Block& block) noexcept;

// Appends every block to `out` by its template, without the final trim. Throws
// OutputLimitExceeded, leaving `out` unchanged, when the text would pass kOutputLimit.
// Appending a document's blocks in pieces gives the same text as appending them at once.
void append_blocks(std::span<const Block> blocks, std::string& out);

// Removes trailing Unicode White_Space from `out`; an all-white text becomes empty.
void trim_trailing_white_space(std::string& out);

// Writes every block by its template and removes trailing white space.
// Throws OutputLimitExceeded before the text would pass kOutputLimit.
std::string assemble_markdown(std::span<const Block> blocks);

}  // namespace paravox
