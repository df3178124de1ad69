// Writing the collected blocks as one Markdown text.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "hwp/block.h"
#include "hwp/error.h"

namespace paravox {

// Number of bytes assemble_markdown writes for `block` before the final trim.
std::uint64_t assembled_size(const Block& block) noexcept;

// Parse "Markdown output exceeds 268435456 bytes": the error of a document whose Markdown
// would pass kOutputLimit.
ConvertError markdown_too_large();

// Adds the assembled_size of each of `blocks` to `output_size`, the running size of a
// document's Markdown, throwing OutputLimitExceeded as soon as it would pass kOutputLimit. The
// count is the one assembly uses, so a walk that accounts every block as it appends it refuses
// a document exactly when assembly would, before its blocks grow further.
void account_blocks(std::span<const Block> blocks, std::uint64_t& output_size);

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
