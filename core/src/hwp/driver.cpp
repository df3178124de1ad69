#include "hwp/driver.h"

#include <optional>
#include <string>
#include <utility>

#include "document/fields.h"
#include "document/markdown.h"
#include "hwp/field_controls.h"
#include "hwp/objects.h"
#include "hwp/section.h"
#include "hwp/table.h"
#include "hwp/text.h"

namespace paravox {
namespace {

// Field attachment in the body requires the field's control header at level 1.
constexpr std::uint16_t kBodyParagraphLevel = 1;

// Inflated record bytes per byte of Markdown in typical documents (realworld: 8.2).
constexpr std::size_t kRecordBytesPerMarkdownByte = 8;

// Where walk_section puts its blocks: counted toward the ceiling like MarkdownWriter, but
// kept for the caller instead of written.
class BlockCollector {
 public:
  BlockCollector(std::vector<Block>& blocks, std::uint64_t& output_size)
      : blocks_(blocks), output_size_(output_size) {}

  void add(Block block) {
    count_output(block, output_size_);
    blocks_.push_back(std::move(block));
  }
  void add_paragraph(std::optional<PendingParagraph>& slot) {
    const std::size_t first_new = blocks_.size();
    finish_paragraph(slot, blocks_);
    if (blocks_.size() > first_new) count_output(blocks_.back(), output_size_);
  }

 private:
  std::vector<Block>& blocks_;
  std::uint64_t& output_size_;
};

// The walk over one section's records, handing each block to `out` (a MarkdownWriter or a
// BlockCollector) as it is complete.
template <class BlockSink>
void walk_records(Records records, BlockSink& out) {
  const std::size_t n = records.size();
  std::optional<PendingParagraph> pending;

  std::size_t i = 0;
  while (i < n) {
    const Record& record = records[i];
    if (record.tag_id == tag::kCtrlHeader) {
      const std::uint32_t id = control_id(record);
      if (record.level == kBodyParagraphLevel && id == kClickHereId && pending &&
          pending->awaits_field_control()) {
        i = attach_click_here_field(records, i, *pending);
        continue;
      }
      out.add_paragraph(pending);
      const std::size_t start = i + 1;
      std::size_t consumed = 0;
      if (id == kEquationId) {
        EquationResult equation = convert_equation(records, start, record.level);
        if (equation.script) out.add(Equation{std::move(*equation.script)});
        consumed = equation.consumed;
      } else if (id == kDrawingId) {
        DrawingResult drawing = convert_drawing_object(records, start, record.level);
        if (drawing.block) out.add(std::move(*drawing.block));
        consumed = drawing.consumed;
      } else if (id == kTableId) {
        TableResult table = convert_table(records, start, record.level, 0);
        if (table.table) out.add(std::move(*table.table));
        consumed = table.consumed;
      } else {
        consumed = skip_control(records, start, record.level);
      }
      i = start + consumed;
    } else if (record.tag_id == tag::kParaText && record.level == kBodyParagraphLevel) {
      out.add_paragraph(pending);
      ParaText decoded = decode_para_text(record.data());
      pending = PendingParagraph{std::move(decoded.text), std::move(decoded.field_texts), {}};
      ++i;
    } else {
      ++i;
    }
  }
  out.add_paragraph(pending);
}

}  // namespace

void walk_section(Records records, std::vector<Block>& blocks, std::uint64_t& output_size) {
  BlockCollector collector(blocks, output_size);
  walk_records(records, collector);
}

void walk_section(Records records, std::vector<Block>& blocks) {
  std::uint64_t output_size = 0;
  walk_section(records, blocks, output_size);
}

Result<HwpDocument> open_hwp_document(Result<Container> container) {
  if (!container) return std::move(container).error();
  Result<FileHeader> header = read_file_header(container.value());
  if (!header) return std::move(header).error();
  return HwpDocument{std::move(container).value(), header.value()};
}

Result<DocumentText> convert_sections(const SectionReader& read_section) {
  std::vector<Warning> warnings;
  try {
    MarkdownWriter markdown;
    for (std::uint32_t k = 0;; ++k) {
      const std::string path = section_stream_path(k);
      Result<Inflated> section = read_section(path);
      if (!section) {
        // The first missing section is the end of the body. One that is there but cannot be
        // read or inflated ends the document as well: the sections after it are not read.
        if (section.error().cause() != ErrorCause::MissingStream) {
          warnings.push_back(text_missing_from(path, section.error()));
        }
        break;
      }
      const ByteBuffer& bytes = section->bytes;
      // Records view the section bytes; both are released at the end of this iteration.
      const RecordList records = parse_records(bytes);
      // Markdown runs at about an eighth of the records it comes from: room for that spares
      // a large document most of the text's regrowth copies (and their fresh pages).
      markdown.reserve_more(bytes.size() / kRecordBytesPerMarkdownByte);
      walk_records(records, markdown);
      // Before the records and the section bytes are released (measured: fewer instructions
      // in the allocator than writing them with the next batch).
      markdown.write_held_blocks();
      if (!section->ended) {
        warnings.push_back(end_missing(path, "its compressed data ends before the last block"));
      } else if (records.whole_size() < bytes.size()) {
        warnings.push_back(end_missing(path, "a record at byte " +
                                                 std::to_string(records.whole_size()) +
                                                 " runs past the end of the section (" +
                                                 std::to_string(bytes.size()) + " bytes)"));
      }
    }
    return DocumentText{markdown.finish(), std::move(warnings)};
  } catch (const OutputLimitExceeded&) {
    return output_limit_error();
  }
}

Result<DocumentText> convert_body(HwpDocument& document) {
  const bool compressed = document.header.compressed();
  return convert_sections([&](const std::string& path) {
    return read_section_stream(document.container, path, compressed);
  });
}

Result<ByteBuffer> read_first_section(HwpDocument& document) {
  Result<Inflated> section =
      read_section_stream(document.container, section_stream_path(0), document.header.compressed());
  if (!section) return std::move(section).error();
  return std::move(section->bytes);
}

}  // namespace paravox
