// The conversion of a whole document.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "document/block.h"
#include "document/error.h"
#include "hwp/container.h"
#include "large_memory.h"
#include "reader.h"

namespace paravox {

// Walks one section's records and appends its blocks to `blocks`. `output_size` is the
// running number of Markdown bytes of the document so far, to which each new block's
// assembled_size is added; throws OutputLimitExceeded as soon as it would pass kOutputLimit
// (also from field expansion), so a crafted section never collects more than that.
void walk_section(Records records, std::vector<Block>& blocks, std::uint64_t& output_size);

// The same, counting toward the ceiling only the blocks of this section.
void walk_section(Records records, std::vector<Block>& blocks);

// Converts sections 0, 1, 2, ... until the first that cannot be read or inflated (that
// failure is discarded) and returns the Markdown. The only error is the output ceiling:
// Parse "Markdown output exceeds 268435456 bytes".
Result<std::string> convert_body(Container& container, bool compressed);

// The whole of hwp_to_markdown below Python: open, check the header, convert.
Result<std::string> hwp_to_markdown(std::string_view path);

// Section 0 of the document at `path`, inflated: the bytes hwp_debug_records lists the
// records of (with for_each_record), or the error of opening the file, its header or that
// section.
Result<ByteBuffer> read_first_section(std::string_view path);

}  // namespace paravox
