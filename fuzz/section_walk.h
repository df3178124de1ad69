// The section walk and Markdown assembly as the conversion runs them, for the fuzz targets
// that end in a section's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/block.h"
#include "document/markdown.h"
#include "fuzz_checks.h"
#include "hwp/driver.h"
#include "hwp/records.h"

namespace paravox::fuzz {

// Splits `section`, walks it and assembles the Markdown, checking what the caller relies
// on: the walk's running size is what assembly writes before its final trim, and the text
// is valid UTF-8. The output ceiling is an expected outcome, as in the driver.
inline void walk_and_assemble(Bytes section) {
  const RecordList records = parse_records(section);
  std::vector<Block> blocks;
  std::uint64_t output_size = 0;
  try {
    walk_section(records, blocks, output_size);
    std::uint64_t assembled = 0;
    for (const Block& block : blocks) assembled += assembled_size(block);
    require(assembled == output_size, "the walk counts what assembly writes");
    const std::string markdown = assemble_markdown(blocks);
    require(markdown.size() <= output_size, "assembly writes no more than it counted");
    require(is_valid_utf8(markdown), "Markdown is valid UTF-8");
  } catch (const OutputLimitExceeded&) {
    require(output_size <= kOutputLimit, "the ceiling is met before it is passed");
  }
}

}  // namespace paravox::fuzz
