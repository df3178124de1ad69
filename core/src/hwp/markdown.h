// Writing the collected blocks as one Markdown text.
#pragma once

#include <span>
#include <string>

#include "hwp/block.h"

namespace paravox {

// Writes every block by its template and removes trailing white space.
// Throws OutputLimitExceeded before the text would pass kOutputLimit.
std::string assemble_markdown(std::span<const Block> blocks);

}  // namespace paravox
