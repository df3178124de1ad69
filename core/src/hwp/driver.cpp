#include "hwp/driver.h"

#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "hwp/fields.h"
#include "hwp/markdown.h"
#include "hwp/objects.h"
#include "hwp/section.h"
#include "hwp/table.h"
#include "hwp/text.h"

namespace paravox {
namespace {

// Field attachment in the body requires the field's control header at level 1.
constexpr std::uint16_t kBodyParagraphLevel = 1;

// Attaches the '%clk' control header at `i` to the pending paragraph; returns the index
// where the walk continues (after the field's CTRL_DATA record when one was read).
std::size_t attach_field(Records records, std::size_t i, PendingParagraph& paragraph) {
  std::optional<ClickHereHeader> header = read_click_here_header(records[i].data());
  std::size_t cursor = i + 1;
  FieldInfo field;
  field.name = read_field_name(records, cursor, kBodyParagraphLevel + 1);
  if (header) {
    field.direction = std::move(header->direction);
    field.modified = header->modified;
  }
  paragraph.field_infos.push_back(std::move(field));
  return cursor;
}

// Inflated record bytes per byte of Markdown in typical documents (realworld: 8.2).
constexpr std::size_t kRecordBytesPerMarkdownByte = 8;

// Blocks a walk collects before handing them to assembly: a section of a million paragraphs
// then holds a thousand blocks at a time rather than all of them beside its records.
constexpr std::size_t kBlocksPerBatch = 1024;

// The walk of walk_section. Between records, whenever `blocks` holds kBlocksPerBatch blocks or
// more, calls `on_batch`, which may take them out of the vector.
template <class OnBatch>
void walk_records(Records records, std::vector<Block>& blocks, std::uint64_t& output_size,
                  OnBatch&& on_batch) {
  const std::size_t n = records.size();
  std::optional<PendingParagraph> pending;
  const auto finish_pending = [&] {
    const std::size_t first_new = blocks.size();
    finish_paragraph(pending, blocks);
    account_blocks(std::span(blocks).subspan(first_new), output_size);
  };
  const auto append_block = [&](Block block) {
    blocks.push_back(std::move(block));
    account_blocks(std::span(blocks).last(1), output_size);
  };

  std::size_t i = 0;
  while (i < n) {
    if (blocks.size() >= kBlocksPerBatch) on_batch();
    const Record& record = records[i];
    if (record.tag_id == tag::kCtrlHeader) {
      const std::uint32_t id = control_id(record);
      if (record.level == kBodyParagraphLevel && id == kClickHereId && pending &&
          pending->field_infos.size() < pending->field_texts.size()) {
        i = attach_field(records, i, *pending);
        continue;
      }
      finish_pending();
      const std::size_t start = i + 1;
      std::size_t consumed = 0;
      if (id == kEquationId) {
        EquationResult equation = convert_equation(records, start, record.level);
        if (equation.script) append_block(Equation{std::move(*equation.script)});
        consumed = equation.consumed;
      } else if (id == kDrawingId) {
        DrawingResult drawing = convert_drawing_object(records, start, record.level);
        if (drawing.block) append_block(std::move(*drawing.block));
        consumed = drawing.consumed;
      } else if (id == kTableId) {
        TableResult table = convert_table(records, start, record.level, 0);
        if (table.table) append_block(std::move(*table.table));
        consumed = table.consumed;
      } else {
        consumed = skip_control(records, start, record.level);
      }
      i = start + consumed;
    } else if (record.tag_id == tag::kParaText && record.level == kBodyParagraphLevel) {
      finish_pending();
      ParaText decoded = decode_para_text(record.data());
      pending = PendingParagraph{std::move(decoded.text), std::move(decoded.field_texts), {}};
      ++i;
    } else {
      ++i;
    }
  }
  finish_pending();
}

}  // namespace

void walk_section(Records records, std::vector<Block>& blocks, std::uint64_t& output_size) {
  walk_records(records, blocks, output_size, [] {});
}

void walk_section(Records records, std::vector<Block>& blocks) {
  std::uint64_t output_size = 0;
  walk_section(records, blocks, output_size);
}

Result<std::string> convert_body(Container& container, bool compressed) {
  try {
    std::string markdown;
    std::vector<Block> blocks;
    std::uint64_t output_size = 0;
    for (std::uint32_t k = 0;; ++k) {
      // The first section that cannot be read or inflated ends the document; its error is
      // not reported.
      Result<ByteBuffer> section =
          read_section_stream(container, section_stream_path(k), compressed);
      if (!section) break;
      // Records view the section bytes; both are released at the end of this iteration.
      const RecordList records = parse_records(section.value());
      // Markdown runs at about an eighth of the records it comes from: room for that spares
      // a large document most of the text's regrowth copies (and their fresh pages).
      markdown.reserve(markdown.size() + section->size() / kRecordBytesPerMarkdownByte);
      // Assembly only concatenates block templates, so writing blocks as soon as a batch of
      // them is complete gives the same text while holding one batch of blocks at a time.
      const auto assemble_batch = [&] {
        append_blocks(blocks, markdown);
        blocks.clear();
      };
      walk_records(records, blocks, output_size, assemble_batch);
      assemble_batch();
    }
    trim_trailing_white_space(markdown);
    return markdown;
  } catch (const OutputLimitExceeded&) {
    return markdown_too_large();
  }
}

Result<std::string> hwp_to_markdown(std::string_view path) {
  Result<Container> container = open_container(path);
  if (!container) return std::move(container).error();
  const Result<bool> compressed = read_file_header(container.value());
  if (!compressed) return compressed.error();
  return convert_body(container.value(), compressed.value());
}

Result<std::vector<RecordSummary>> hwp_debug_records(std::string_view path) {
  Result<Container> container = open_container(path);
  if (!container) return std::move(container).error();
  const Result<bool> compressed = read_file_header(container.value());
  if (!compressed) return compressed.error();
  Result<ByteBuffer> section =
      read_section_stream(container.value(), section_stream_path(0), compressed.value());
  if (!section) return std::move(section).error();
  const RecordList records = parse_records(section.value());
  std::vector<RecordSummary> summaries;
  summaries.reserve(records.size());
  for (const Record& record : records) {
    summaries.push_back(RecordSummary{record.tag_id, record.level, record.size()});
  }
  return summaries;
}

}  // namespace paravox
