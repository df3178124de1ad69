#include "hwp/driver.h"

#include <optional>
#include <string>
#include <utility>

#include "document/fields.h"
#include "document/full_markdown.h"
#include "document/markdown.h"
#include "hwp/docinfo.h"
#include "hwp/field_controls.h"
#include "hwp/objects.h"
#include "hwp/section.h"
#include "hwp/table.h"
#include "hwp/text.h"

namespace paravox {
namespace {

// A section's own paragraphs have their PARA_HEADER at level 0 and their text and controls at
// level 1; field attachment in the body requires the field's control header at level 1.
constexpr std::uint16_t kSectionParagraphLevel = 0;
constexpr std::uint16_t kBodyParagraphLevel = 1;

// Inflated record bytes per byte of Markdown in typical documents (realworld: 8.2).
constexpr std::size_t kRecordBytesPerMarkdownByte = 8;

// The control id of a section definition, which the section's first paragraph holds.
constexpr std::uint32_t kSectionDefinitionId = 0x73656364;  // 'secd'

// The outline numbering id of the section definition among the first paragraph's records,
// or 0 when there is none.
std::uint16_t first_paragraph_outline_numbering(Records records) {
  bool first_paragraph_seen = false;
  for (const Record& record : records) {
    if (record.tag_id == tag::kParaHeader && record.level == kSectionParagraphLevel) {
      if (first_paragraph_seen) break;
      first_paragraph_seen = true;
    } else if (record.tag_id == tag::kCtrlHeader && control_id(record) == kSectionDefinitionId) {
      return section_outline_numbering(record.data());
    }
  }
  return 0;
}

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

// The minimal profile's side of the walk: blocks of the minimal set, tables as rows of cell
// texts, handed to `Out` (a MarkdownWriter or a BlockCollector).
template <class Out>
class MinimalBlocks {
 public:
  static constexpr bool kCountsParagraphs = false;

  explicit MinimalBlocks(Out& out) : out_(out) {}

  static constexpr bool kMarksNotes = false;

  void start_paragraph(Bytes) {}
  void start_paragraph_text() {}
  std::size_t add_layer(std::uint32_t, Records records, std::size_t start, std::uint16_t level) {
    return skip_control(records, start, level);
  }
  void add_paragraph(std::optional<PendingParagraph>& slot) { out_.add_paragraph(slot); }
  void add_equation(std::string script) { out_.add(Equation{std::move(script)}); }
  void add_drawing(DrawingResult& drawing) { out_.add(std::move(*drawing.block)); }
  std::size_t add_table(Records records, std::size_t start, std::uint16_t level) {
    TableResult table = convert_table(records, start, level, 0);
    if (table.table) out_.add(std::move(*table.table));
    return table.consumed;
  }

 private:
  Out& out_;
};

// The full profile's side of the walk: the model's blocks, each with its origin.
class ModelBlocks {
 public:
  static constexpr bool kCountsParagraphs = true;

  explicit ModelBlocks(DocumentBuilder& document) : document_(document) {}

  static constexpr bool kMarksNotes = true;

  void start_paragraph(Bytes header) {
    document_.start_paragraph();
    head_ = next_paragraph_head(document_.numbering(), header);
  }
  // A paragraph's text belongs to the paragraph whose header came before it, even when it is
  // finished after the next header.
  void start_paragraph_text() {
    text_origin_ = document_.origin();
    text_head_ = head_;
    referring_ = kNoParagraph;
  }
  void add_paragraph(std::optional<PendingParagraph>& slot) {
    model::Paragraph* paragraph =
        add_finished_paragraph(slot, text_origin_, document_.body(), document_.held());
    if (paragraph == nullptr) return;
    set_paragraph_head(*paragraph, text_head_, false, document_.held());
    referring_ = document_.body().size() - 1;
  }
  // Notes, headers, footers and hidden comments.
  std::size_t add_layer(std::uint32_t id, Records records, std::size_t start, std::uint16_t level) {
    return read_layer(id, records, start, level, text_origin_, document_, document_.body(),
                      referring_);
  }
  void add_equation(std::string script) {
    document_.add(equation_block(script, document_.origin(), document_.held()));
  }
  void add_drawing(DrawingResult& drawing) {
    add_drawing_blocks(drawing, document_.origin(), document_.body(), document_.held());
  }
  std::size_t add_table(Records records, std::size_t start, std::uint16_t level) {
    ModelTableResult table = read_table(records, start, level, document_.origin(), document_);
    if (table.table) document_.add(std::move(*table.table));
    return table.consumed;
  }

 private:
  static constexpr std::size_t kNoParagraph = static_cast<std::size_t>(-1);

  DocumentBuilder& document_;
  model::Origin text_origin_;
  // The body paragraph of the text read last, which the controls after it belong to.
  std::size_t referring_ = kNoParagraph;
  // The head of the last paragraph header, and of the paragraph whose text is pending.
  ParagraphHead head_;
  ParagraphHead text_head_;
};

// The walk over one section's records, handing each block to `out` (MinimalBlocks or
// ModelBlocks) as it is complete.
template <class Blocks>
void walk_records(Records records, Blocks& out) {
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
        if (equation.script) out.add_equation(std::move(*equation.script));
        consumed = equation.consumed;
      } else if (id == kDrawingId) {
        DrawingResult drawing = convert_drawing_object(records, start, record.level);
        if (drawing.block) out.add_drawing(drawing);
        consumed = drawing.consumed;
      } else if (id == kTableId) {
        consumed = out.add_table(records, start, record.level);
      } else if (is_layer_control(id)) {
        consumed = out.add_layer(id, records, start, record.level);
      } else {
        consumed = skip_control(records, start, record.level);
      }
      i = start + consumed;
    } else if (record.tag_id == tag::kParaText && record.level == kBodyParagraphLevel) {
      out.add_paragraph(pending);
      out.start_paragraph_text();
      ParaText decoded;
      decode_para_text_into(record.data(), decoded, Blocks::kMarksNotes);
      pending = PendingParagraph{std::move(decoded.text), std::move(decoded.field_texts), {}};
      ++i;
    } else {
      if constexpr (Blocks::kCountsParagraphs) {
        if (record.tag_id == tag::kParaHeader && record.level == kSectionParagraphLevel) {
          out.start_paragraph(record.data());
        }
      }
      ++i;
    }
  }
  out.add_paragraph(pending);
}

}  // namespace

void walk_section(Records records, std::vector<Block>& blocks, std::uint64_t& output_size) {
  BlockCollector collector(blocks, output_size);
  MinimalBlocks<BlockCollector> out(collector);
  walk_records(records, out);
}

void walk_section(Records records, DocumentBuilder& document) {
  document.numbering().begin_section(first_paragraph_outline_numbering(records));
  ModelBlocks out(document);
  walk_records(records, out);
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

namespace {

// Calls `walk(k, section, records)` for sections 0, 1, 2, ... as `read_section` gives them, up
// to the first that is missing; the section's bytes and records are released after each call.
// A section that is there but cannot be read or inflated ends the document too, and what is
// missing is said in `warnings`, as is the end of a section cut short.
template <class Walk>
void for_each_section(const SectionReader& read_section, std::vector<Warning>& warnings,
                      Walk&& walk) {
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
    walk(k, bytes, records);
    if (!section->ended) {
      warnings.push_back(end_missing(path, "its compressed data ends before the last block"));
    } else if (records.whole_size() < bytes.size()) {
      warnings.push_back(end_missing(path, "a record at byte " +
                                               std::to_string(records.whole_size()) +
                                               " runs past the end of the section (" +
                                               std::to_string(bytes.size()) + " bytes)"));
    }
  }
}

std::string convert_minimal(const SectionReader& read_section, std::vector<Warning>& warnings) {
  MarkdownWriter markdown;
  for_each_section(read_section, warnings,
                   [&](std::uint32_t, const ByteBuffer& bytes, Records records) {
                     // Markdown runs at about an eighth of the records it comes from: room for
                     // that spares a large document most of the text's regrowth copies (and
                     // their fresh pages).
                     markdown.reserve_more(bytes.size() / kRecordBytesPerMarkdownByte);
                     MinimalBlocks<MarkdownWriter> out(markdown);
                     walk_records(records, out);
                     // Before the records and the section bytes are released (measured: fewer
                     // instructions in the allocator than writing them with the next batch).
                     markdown.write_held_blocks();
                   });
  return markdown.finish();
}

model::Document build_full(const SectionReader& read_section, const DocumentStyles& styles,
                           std::vector<Warning>& warnings, std::size_t& expected_size) {
  DocumentBuilder builder(styles);
  for_each_section(read_section, warnings,
                   [&](std::uint32_t k, const ByteBuffer& bytes, Records records) {
                     expected_size += bytes.size() / kRecordBytesPerMarkdownByte;
                     builder.start_section(k);
                     walk_section(records, builder);
                   });
  return builder.finish();
}

std::string convert_full(const SectionReader& read_section, const DocumentStyles& styles,
                         std::vector<Warning>& warnings, bool headers_footers) {
  std::size_t expected_size = 0;
  const model::Document document = build_full(read_section, styles, warnings, expected_size);
  return render_markdown(document, expected_size, {}, headers_footers);
}

}  // namespace

Result<DocumentText> convert_sections(const SectionReader& read_section, Profile profile,
                                      const DocumentStyles& styles, bool headers_footers) {
  std::vector<Warning> warnings;
  try {
    std::string markdown = profile == Profile::Minimal
                               ? convert_minimal(read_section, warnings)
                               : convert_full(read_section, styles, warnings, headers_footers);
    return DocumentText{std::move(markdown), std::move(warnings)};
  } catch (const OutputLimitExceeded&) {
    return output_limit_error();
  }
}

Result<DocumentModel> read_sections(const SectionReader& read_section,
                                    const DocumentStyles& styles) {
  DocumentModel model;
  try {
    std::size_t expected_size = 0;
    model.document = build_full(read_section, styles, model.warnings, expected_size);
  } catch (const OutputLimitExceeded&) {
    return output_limit_error();
  }
  return model;
}

namespace {

// The document's definitions; none (every paragraph plain) when its DocInfo stream is missing
// or damaged, since the body can be read without them.
DocumentStyles definitions_or_none(HwpDocument& document) {
  Result<DocumentStyles> read =
      read_document_styles(document.container, document.header.compressed());
  return read ? std::move(read).value() : DocumentStyles{};
}

}  // namespace

Result<DocumentModel> read_body(HwpDocument& document, const DocumentStyles& styles) {
  const bool compressed = document.header.compressed();
  return read_sections(
      [&](const std::string& path) {
        return read_section_stream(document.container, path, compressed);
      },
      styles);
}

Result<DocumentText> convert_body(HwpDocument& document, Profile profile, bool headers_footers) {
  const bool compressed = document.header.compressed();
  const DocumentStyles styles =
      profile == Profile::Full ? definitions_or_none(document) : DocumentStyles{};
  return convert_sections(
      [&](const std::string& path) {
        return read_section_stream(document.container, path, compressed);
      },
      profile, styles, headers_footers);
}

Result<ByteBuffer> read_first_section(HwpDocument& document) {
  Result<Inflated> section =
      read_section_stream(document.container, section_stream_path(0), document.header.compressed());
  if (!section) return std::move(section).error();
  return std::move(section->bytes);
}

}  // namespace paravox
