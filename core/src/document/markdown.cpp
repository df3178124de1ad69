#include "document/markdown.h"

#include <algorithm>
#include <string_view>
#include <type_traits>
#include <utility>

#include "base/error.h"
#include "document/text.h"

namespace paravox {
namespace {

// Cell text seldom holds '|' or a line feed, so both are looked for with find (memchr), which
// skips many bytes per step, rather than byte by byte.
std::size_t escaped_length(std::string_view text) noexcept {
  std::size_t length = text.size();
  for (std::size_t at = text.find('|'); at != std::string_view::npos; at = text.find('|', at + 1)) {
    ++length;
  }
  return length;
}

void append_escaped(std::string& out, std::string_view text) {
  std::size_t run = 0;
  std::size_t pipe = text.find('|');
  std::size_t line_feed = text.find('\n');
  while (pipe != line_feed) {  // equal only when neither is left (npos)
    const std::size_t at = std::min(pipe, line_feed);
    out.append(text.data() + run, at - run);
    if (at == pipe) {
      out.append("\\|", 2);
      pipe = text.find('|', at + 1);
    } else {
      out.push_back(' ');
      line_feed = text.find('\n', at + 1);
    }
    run = at + 1;
  }
  out.append(text.data() + run, text.size() - run);
}

std::size_t column_count(const Table& table) noexcept {
  std::size_t columns = 0;
  for (const TableRow& row : table.rows) columns = std::max(columns, row.cell_count());
  return columns;
}

// Length of one table line: "|", each of `columns` cells followed by "|", then "\n".
std::uint64_t row_line_length(const TableRow& row, std::size_t columns) noexcept {
  std::uint64_t length = 2 + std::uint64_t{columns};
  for (const TableCell& cell : row.cells) length += escaped_length(cell.text);
  return length;
}

void append_row_line(std::string& out, const TableRow& row, std::size_t columns) {
  out += '|';
  for (const TableCell& cell : row.cells) {
    // Most cells of layout tables are empty.
    if (!cell.text.empty()) append_escaped(out, cell.text);
    out += '|';
  }
  if (columns > row.cells.size()) out.append(columns - row.cells.size(), '|');
  out += '\n';
}

}  // namespace

std::string escape_cell_text(std::string_view text) {
  std::string out;
  out.reserve(escaped_length(text));
  append_escaped(out, text);
  return out;
}

std::uint64_t rendered_table_size(const Table& table) noexcept {
  const std::size_t columns = column_count(table);
  if (columns == 0) return 1;
  // Header row, separator row "|" + columns x "---|" + "\n", data rows, closing "\n".
  std::uint64_t size = 2 + 4 * std::uint64_t{columns} + 1;
  for (const TableRow& row : table.rows) size += row_line_length(row, columns);
  size += std::uint64_t{table.trailing_empty_rows} * (2 + std::uint64_t{columns});
  return size;
}

void render_table(const Table& table, std::string& out) {
  // The whole table is measured before anything is written, so a table declaring billions
  // of empty cells fails at once and leaves `out` as it was.
  const std::uint64_t size = rendered_table_size(table);
  if (out.size() > kOutputLimit || size > kOutputLimit - out.size()) throw OutputLimitExceeded{};
  render_measured_table(table, out);
}

void render_measured_table(const Table& table, std::string& out) {
  const std::size_t columns = column_count(table);
  if (columns == 0) {
    out += '\n';
    return;
  }
  append_row_line(out, table.rows.front(), columns);
  out += '|';
  for (std::size_t c = 0; c < columns; ++c) out += "---|";
  out += '\n';
  for (std::size_t r = 1; r < table.rows.size(); ++r) append_row_line(out, table.rows[r], columns);
  const TableRow empty_row;
  for (std::uint32_t r = 0; r < table.trailing_empty_rows; ++r) {
    append_row_line(out, empty_row, columns);
  }
  out += '\n';
}

std::uint64_t assembled_size(const Block& block) noexcept {
  return std::visit(
      [](const auto& content) -> std::uint64_t {
        using Content = std::decay_t<decltype(content)>;
        if constexpr (std::is_same_v<Content, Paragraph>) {
          const std::string_view trimmed = trim_text(content.text);
          return trimmed.empty() ? 0 : trimmed.size() + kParagraphEnd.size();
        } else if constexpr (std::is_same_v<Content, Equation>) {
          return kEquationOpen.size() + trim_text(content.script).size() + kEquationClose.size();
        } else if constexpr (std::is_same_v<Content, Image>) {
          if (content.caption.empty()) return kImageWithoutCaption.size() + kParagraphEnd.size();
          return kImageOpen.size() + content.caption.size() + kImageClose.size() +
                 kParagraphEnd.size();
        } else {
          return rendered_table_size(content);
        }
      },
      block);
}

void count_output(const Block& block, std::uint64_t& output_size) {
  const std::uint64_t size = assembled_size(block);
  if (output_size > kOutputLimit || size > kOutputLimit - output_size) {
    throw OutputLimitExceeded{};
  }
  output_size += size;
}

void append_blocks(std::span<const Block> blocks, std::string& out) {
  // Sizing first means the ceiling is met before anything is written, and the text grows
  // by one allocation at most.
  std::uint64_t total = out.size();
  for (const Block& block : blocks) {
    total += assembled_size(block);
    if (total > kOutputLimit) throw OutputLimitExceeded{};
  }
  out.reserve(static_cast<std::size_t>(total));

  for (const Block& block : blocks) {
    if (const auto* paragraph = std::get_if<Paragraph>(&block)) {
      const std::string_view trimmed = trim_text(paragraph->text);
      if (trimmed.empty()) continue;
      out += trimmed;
      out += kParagraphEnd;
    } else if (const auto* equation = std::get_if<Equation>(&block)) {
      out += kEquationOpen;
      out += trim_text(equation->script);
      out += kEquationClose;
    } else if (const auto* image = std::get_if<Image>(&block)) {
      if (image->caption.empty()) {
        out += kImageWithoutCaption;
      } else {
        out += kImageOpen;
        out += image->caption;
        out += kImageClose;
      }
      out += kParagraphEnd;
    } else {
      // Measured with the other blocks above.
      render_measured_table(std::get<Table>(block), out);
    }
  }
}

void trim_trailing_white_space(std::string& out) {
  // trim_text's back end is exactly where the trailing white space starts.
  const std::string_view kept = trim_text(out);
  if (kept.empty()) {
    out.clear();
    return;
  }
  out.resize(static_cast<std::size_t>(kept.data() + kept.size() - out.data()));
}

std::string assemble_markdown(std::span<const Block> blocks) {
  std::string out;
  append_blocks(blocks, out);
  trim_trailing_white_space(out);
  return out;
}

ConvertError output_limit_error() {
  return ConvertError::parse("Markdown output exceeds " + std::to_string(kOutputLimit) + " bytes",
                             ErrorCause::OverCeiling);
}

void MarkdownWriter::reserve_more(std::size_t bytes) {
  // output_size_ also counts the blocks not yet written.
  markdown_.reserve(static_cast<std::size_t>(output_size_) + bytes);
}

void MarkdownWriter::add(Block block) {
  count_output(block, output_size_);
  blocks_.push_back(std::move(block));
  write_batch_when_full();
}

void MarkdownWriter::add_finished_paragraph(std::optional<PendingParagraph>& slot) {
  const std::size_t first_new = blocks_.size();
  finish_paragraph(slot, blocks_);
  // A blank paragraph adds no block.
  if (blocks_.size() == first_new) return;
  count_output(blocks_.back(), output_size_);
  write_batch_when_full();
}

void MarkdownWriter::write_batch_when_full() {
  if (blocks_.size() >= kBlocksPerBatch) write_held_blocks();
}

void MarkdownWriter::write_held_blocks() {
  append_blocks(blocks_, markdown_);
  blocks_.clear();
}

MarkdownWriter::Mark MarkdownWriter::mark() {
  write_held_blocks();
  return {markdown_.size(), output_size_};
}

void MarkdownWriter::roll_back(const Mark& mark) {
  blocks_.clear();
  markdown_.resize(mark.markdown_size);
  output_size_ = mark.output_size;
}

std::string MarkdownWriter::finish() {
  write_held_blocks();
  output_size_ = 0;
  trim_trailing_white_space(markdown_);
  std::string markdown = std::move(markdown_);
  markdown_.clear();
  return markdown;
}

}  // namespace paravox
