// Writing the collected blocks as one Markdown text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "document/block.h"
#include "document/fields.h"

namespace paravox {

// The pieces blocks are written with, in every profile: a paragraph is its text and an empty
// line, an equation its script between "$$" lines, a picture a placeholder with its caption.
inline constexpr std::string_view kParagraphEnd = "\n\n";
inline constexpr std::string_view kEquationOpen = "$$\n";
inline constexpr std::string_view kEquationClose = "\n$$\n\n";
inline constexpr std::string_view kImageOpen = "[이미지: ";
inline constexpr std::string_view kImageClose = "]";
inline constexpr std::string_view kImageWithoutCaption = "[이미지]";

// Pipe tables. A cell's "|" becomes "\|", then every line feed becomes a space.
std::string escape_cell_text(std::string_view text);

// Number of bytes render_table appends for `table`, computed without writing them.
std::uint64_t rendered_table_size(const Table& table) noexcept;

// Appends `table` as a pipe table (header row, "---" separator, rows, empty line).
// Throws OutputLimitExceeded before `out` would pass kOutputLimit.
void render_table(const Table& table, std::string& out);

// render_table for a caller that has already counted rendered_table_size(table) into a total
// it checked against kOutputLimit: the same bytes, without measuring the table again.
void render_measured_table(const Table& table, std::string& out);

// Number of bytes assemble_markdown writes for `block` before the final trim.
std::uint64_t assembled_size(const Block& block) noexcept;

// Adds assembled_size(block) to `output_size`, the Markdown bytes of a document so far.
// Throws OutputLimitExceeded, leaving `output_size` unchanged, when the sum would pass
// kOutputLimit.
void count_output(const Block& block, std::uint64_t& output_size);

// Appends every block to `out` by its template, without the final trim. Throws
// OutputLimitExceeded, leaving `out` unchanged, when the text would pass kOutputLimit.
// Appending a document's blocks in pieces gives the same text as appending them at once.
void append_blocks(std::span<const Block> blocks, std::string& out);

// Removes trailing Unicode White_Space from `out`; an all-white text becomes empty.
void trim_trailing_white_space(std::string& out);

// Writes every block by its template and removes trailing white space.
// Throws OutputLimitExceeded before the text would pass kOutputLimit.
std::string assemble_markdown(std::span<const Block> blocks);

// What a conversion returns once it has caught OutputLimitExceeded: Parse "Markdown output
// exceeds 268435456 bytes".
ConvertError output_limit_error();

// A document's Markdown, written as its blocks arrive. Each block is counted against
// kOutputLimit when it is added, so a crafted document is refused before it collects more
// than that; blocks are written in batches, so a document of a million paragraphs holds a
// batch of blocks at a time rather than all of them. The text equals assemble_markdown over
// every block added.
class MarkdownWriter {
 public:
  static constexpr std::size_t kBlocksPerBatch = 1024;

  // Room for `bytes` more of Markdown, beyond that of the blocks added so far.
  void reserve_more(std::size_t bytes);

  // Adds `block`. Throws OutputLimitExceeded when the Markdown would pass kOutputLimit.
  void add(Block block);

  // finish_paragraph into the writer: empties `slot` and adds its paragraph unless blank.
  // Throws OutputLimitExceeded like add.
  void add_paragraph(std::optional<PendingParagraph>& slot) {
    if (slot) add_finished_paragraph(slot);
  }

  // Writes the blocks held so far and releases them. A reader calls it when it is done with
  // a part (a section) whose buffers it is about to release: the blocks' memory then goes
  // back before those buffers, which leaves the heap in the order the next part reuses best.
  void write_held_blocks();

  // What has been added so far, for a reader that may take back the blocks of a part it
  // finds damaged.
  struct Mark {
    std::size_t markdown_size = 0;
    std::uint64_t output_size = 0;
  };
  Mark mark();
  // Drops every block added after `mark`.
  void roll_back(const Mark& mark);

  // The Markdown of every block added, trailing white space removed. The writer is empty
  // afterwards.
  std::string finish();

 private:
  void add_finished_paragraph(std::optional<PendingParagraph>& slot);
  void write_batch_when_full();

  std::vector<Block> blocks_;
  std::string markdown_;
  std::uint64_t output_size_ = 0;
};

}  // namespace paravox
