// The section walk and Markdown assembly as the conversion runs them, in both profiles, for
// the fuzz targets that end in a section's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/block.h"
#include "document/document_builder.h"
#include "document/full_markdown.h"
#include "document/markdown.h"
#include "fuzz_checks.h"
#include "hwp/driver.h"
#include "hwp/records.h"

namespace paravox::fuzz {

// The full profile over the same records: the model stays within its ceiling, and the Markdown
// is valid UTF-8 within the output ceiling, or the ceiling is reached.
inline void walk_and_render(Records records) {
  DocumentBuilder document;
  try {
    walk_section(records, document);
    require(document.held().bytes() <= kOutputLimit, "the model stays under the ceiling");
    // Headers and footers on: every layer of the model is written.
    const std::string markdown = render_markdown(document.finish(), 0, {}, true);
    require(markdown.size() <= kOutputLimit, "the Markdown stays under the ceiling");
    require(is_valid_utf8(markdown), "the full Markdown is valid UTF-8");
  } catch (const OutputLimitExceeded&) {
    require(document.held().bytes() <= kOutputLimit, "the ceiling is met before it is passed");
  }
}

// Splits `section`, walks it and assembles the Markdown, checking what the caller relies
// on: the walk's running size is what assembly writes before its final trim, and the text
// is valid UTF-8. The output ceiling is an expected outcome, as in the driver. Then the same
// records go through the full profile.
inline void walk_and_assemble(Bytes section) {
  const RecordList records = parse_records(section);
  walk_and_render(records);
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
