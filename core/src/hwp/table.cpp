#include "hwp/table.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/error.h"
#include "document/fields.h"
#include "hwp/docinfo.h"
#include "hwp/field_controls.h"
#include "hwp/text.h"

namespace paravox {
namespace {

constexpr std::size_t kNoParagraph = static_cast<std::size_t>(-1);
// A header's or footer's CTRL_HEADER: the pages it is drawn on in bits 0-1 of the u32 at 4.
constexpr std::size_t kFurniturePagesOffset = 4;

// TABLE payload: u32 properties, u16 row count, u16 column count, 10 bytes of spacing and
// margins, then one u16 cell count per row.
constexpr std::size_t kTableMinSize = 18;
constexpr std::size_t kRowCountOffset = 4;
constexpr std::size_t kColumnCountOffset = 6;
constexpr std::size_t kCellCountsOffset = 18;
// A cell's LIST_HEADER: a u16 of marks at 6 (bit 2: a header cell), then u16 column address,
// row address, column span and row span at 8-15. Read at 8, every cell of real documents
// lies inside its table; read two bytes earlier, most do not.
constexpr std::size_t kCellMarksOffset = 6;
constexpr std::uint16_t kHeaderCellMark = 0x0004;
constexpr std::size_t kCellColumnOffset = 8;
constexpr std::size_t kCellRowOffset = 10;
constexpr std::size_t kCellColumnSpanOffset = 12;
constexpr std::size_t kCellRowSpanOffset = 14;
// A caption's LIST_HEADER: its side in bits 0-1 of the u32 at 8.
constexpr std::size_t kCaptionSideOffset = 8;
// More cells than this in one row are rare; a row declaring them grows as it is read.
constexpr std::size_t kReservedCellsPerRow = 64;

// Bytes of cell text produced by one top-level table, across all nesting depths. Every
// counted byte reaches the rendered table, so passing the output ceiling here means the
// Markdown would pass it too; checking as cells grow keeps a crafted table from holding
// more than the ceiling in memory before the walk sees it.
class CellTextBudget {
 public:
  void add(std::size_t bytes) {
    if (bytes > kOutputLimit - used_) throw OutputLimitExceeded{};
    used_ += bytes;
  }

 private:
  std::size_t used_ = 0;
};

// What the reading of one top-level table shares across its cells and nested tables.
struct TableReading {
  // Room for the decoding of a cell paragraph of a few hundred characters, so that the buffer
  // does not grow step by step through a table's first paragraphs.
  static constexpr std::size_t kInitialDecodeCapacity = 1024;

  TableReading() { decoded.text.reserve(kInitialDecodeCapacity); }

  CellTextBudget budget;
  // Every cell paragraph is decoded here first, so that paragraphs without fields (nearly
  // all) go straight into their cell without a buffer of their own.
  ParaText decoded;
};

bool is_cell_start(const Record& record, unsigned child_level) noexcept {
  return record.tag_id == tag::kListHeader && record.level == child_level;
}

bool is_table_record(const Record& record, unsigned child_level) noexcept {
  return record.tag_id == tag::kTable && record.level == child_level;
}

// Finishes the cell's pending paragraph and counts what it added to the cell text.
void finish_cell(std::optional<PendingParagraph>& slot, std::string& text, CellTextBudget& budget) {
  if (!slot) return;
  const std::size_t before = text.size();
  finish_cell_paragraph(slot, text);
  budget.add(text.size() - before);
}

// Reads the records of one list (a cell or a caption) from `p`, just after its list header,
// up to the next list at `child_level`, the end of the control, or (for a caption) the TABLE
// record, leaving `p` there. `Content` takes what the records give: paragraph_header(payload)
// each paragraph's header; its decode buffer is decoded(); start_text() comes before each
// paragraph's text, add_text(text) takes a paragraph without fields, finish(slot) a pending
// one, and control(id, records, p, level, depth) a control other than an attached field,
// returning the records it consumed from `p`.
template <class Content>
void read_list(Records records, std::size_t& p, unsigned child_level, unsigned depth,
               Content& content) {
  const std::size_t n = records.size();
  std::optional<PendingParagraph> slot;
  while (p < n) {
    const Record& record = records[p];
    if (record.level < child_level || is_cell_start(record, child_level)) break;
    if constexpr (Content::kEndsAtTableRecord) {
      if (is_table_record(record, child_level)) break;
    }
    ++p;
    if (record.tag_id == tag::kParaHeader) {
      content.paragraph_header(record.data());
      continue;
    }
    if (record.tag_id == tag::kParaText) {
      content.finish(slot);
      content.start_text();
      ParaText& decoded = content.decoded();
      decode_para_text_into(record.data(), decoded, Content::kMarksNotes);
      if (decoded.field_texts.empty()) {
        // No field control attaches to a paragraph without fields, so nothing can change
        // it before it would be finished: it is finished now.
        content.add_text(decoded.text);
      } else {
        slot = PendingParagraph{decoded.text, std::move(decoded.field_texts), {}};
      }
      continue;
    }
    if (record.tag_id != tag::kCtrlHeader) continue;

    const std::uint32_t id = control_id(record);
    if (id == kClickHereId && slot && slot->awaits_field_control()) {
      // Inside a cell a field control attaches whatever its level.
      p = attach_click_here_field(records, p - 1, *slot);
      continue;
    }

    content.finish(slot);
    p += content.control(id, records, p, record.level, depth);
  }
  content.finish(slot);
}

TableResult convert_table_within(Records records, std::size_t start, std::uint16_t level,
                                 unsigned depth, TableReading& reading);

// A cell's text, as the minimal profile reads it: paragraphs joined by spaces, nested tables
// folded in, equations and other controls left out.
struct CellText {
  static constexpr bool kEndsAtTableRecord = false;
  static constexpr bool kMarksNotes = false;

  TableReading& reading;
  std::string& text;

  void paragraph_header(Bytes) {}
  void start_text() {}
  ParaText& decoded() { return reading.decoded; }
  void finish(std::optional<PendingParagraph>& slot) { finish_cell(slot, text, reading.budget); }
  void add_text(std::string_view paragraph) {
    const std::size_t before = text.size();
    append_cell_text(text, paragraph);
    reading.budget.add(text.size() - before);
  }
  std::size_t control(std::uint32_t id, Records records, std::size_t p, std::uint16_t level,
                      unsigned depth) {
    if (id == kTableId && depth < kMaxTableDepth) {
      TableResult nested = convert_table_within(records, p, level, depth + 1, reading);
      // The nested cells' text was counted when they were read; folding only copies it.
      if (nested.table) flatten_table_text(*nested.table, text);
      return nested.consumed;
    }
    // An equation inside a cell reaches no output; only its records are consumed.
    if (id == kEquationId) return convert_equation(records, p, level).consumed;
    return skip_control(records, p, level);
  }
};

// Reads one cell's records from `p` (just after its LIST_HEADER) up to the next cell or the
// end of the control, leaving `p` there, into `cell` (empty on entry).
void read_cell(Records records, std::size_t& p, unsigned child_level, unsigned depth,
               TableReading& reading, TableCell& cell) {
  CellText content{reading, cell.text};
  read_list(records, p, child_level, depth, content);
}

TableResult convert_table_within(Records records, std::size_t start, std::uint16_t level,
                                 unsigned depth, TableReading& reading) {
  const std::size_t n = records.size();
  const unsigned child_level = unsigned{level} + 1;

  std::size_t t = start;
  while (t < n && records[t].level >= child_level && !is_table_record(records[t], child_level)) {
    ++t;
  }
  if (t >= n || records[t].level < child_level) return {std::nullopt, t - start};

  const Bytes payload = records[t].data();
  if (payload.size() < kTableMinSize) return {std::nullopt, t - start + 1};
  const std::uint16_t row_count = *u16_at(payload, kRowCountOffset);
  // Rows whose cell count lies beyond the payload have no cells; they are only counted.
  const std::size_t rows_in_payload =
      std::min<std::size_t>(row_count, (payload.size() - kCellCountsOffset) / 2);

  std::size_t p = t + 1;
  Table table;
  if (row_count > 0) {
    table.rows.reserve(rows_in_payload);
    table.trailing_empty_rows = static_cast<std::uint32_t>(row_count - rows_in_payload);
    // Once a cell slot finds no LIST_HEADER the cursor stops moving, so every later slot of
    // the table is empty as well; those slots are counted, never stored.
    bool cells_exhausted = false;
    for (std::size_t k = 0; k < rows_in_payload; ++k) {
      const std::uint16_t declared = *u16_at(payload, kCellCountsOffset + 2 * k);
      TableRow& row = table.rows.emplace_back();
      if (!cells_exhausted) {
        // Room for the declared cells up front, as far as the records left could hold them
        // (each takes at least its LIST_HEADER) and up to a size that costs little even when
        // a crafted table repeats it: only the row where the cells run out can keep spare
        // room, and it gives it back below.
        row.cells.reserve(std::min({std::size_t{declared}, n - p, kReservedCellsPerRow}));
      }
      std::uint16_t slot = 0;
      for (; slot < declared && !cells_exhausted; ++slot) {
        if (p >= n || !is_cell_start(records[p], child_level)) {
          cells_exhausted = true;
          break;
        }
        ++p;
        read_cell(records, p, child_level, depth, reading, row.cells.emplace_back());
      }
      if (cells_exhausted) row.cells.shrink_to_fit();
      row.trailing_empty_cells = static_cast<std::uint32_t>(declared - slot);
    }
  }

  // Cell records beyond the declared counts, and anything else below the control, are dropped.
  while (p < n && records[p].level >= child_level) ++p;
  if (row_count == 0) return {std::nullopt, p - start};
  return {std::move(table), p - start};
}

// What the reading of one top-level table into the model shares across its cells, caption
// and nested tables.
struct ModelReading {
  ModelReading(model::Origin at, DocumentBuilder& document_builder)
      : origin(at),
        builder(document_builder),
        held(document_builder.held()),
        numbering(document_builder.numbering()) {
    decoded.text.reserve(TableReading::kInitialDecodeCapacity);
  }

  model::Origin origin;
  DocumentBuilder& builder;
  HeldSize& held;
  ParagraphNumbering& numbering;
  ParaText decoded;
  // The head of the last paragraph header, and of the paragraph whose text is pending.
  ParagraphHead head;
  ParagraphHead text_head;
};

ModelTableResult read_table_within(Records records, std::size_t start, std::uint16_t level,
                                   unsigned depth, ModelReading& reading);

std::size_t read_layer_control(std::uint32_t id, Records records, std::size_t start,
                               std::uint16_t level, unsigned depth, ModelReading& reading,
                               std::vector<model::Block>& blocks, std::size_t referring);

// A list's blocks (a cell, a caption, a note, a header or footer...), as the full profile
// reads them.
template <bool kCaption>
struct ListBlocks {
  static constexpr bool kEndsAtTableRecord = kCaption;
  static constexpr bool kMarksNotes = true;

  ModelReading& reading;
  std::vector<model::Block>& blocks;
  // The paragraph of the text read last, which the controls after it belong to.
  std::size_t referring = kNoParagraph;

  // Cell and caption paragraphs count in the document's numbering as the body's do.
  void paragraph_header(Bytes header) {
    reading.head = next_paragraph_head(reading.numbering, header);
  }
  void start_text() {
    reading.text_head = reading.head;
    referring = kNoParagraph;
  }
  ParaText& decoded() { return reading.decoded; }
  void finish(std::optional<PendingParagraph>& slot) {
    set_head(add_finished_paragraph(slot, reading.origin, blocks, reading.held));
  }
  void add_text(std::string_view paragraph) {
    set_head(add_paragraph_text(paragraph, reading.origin, blocks, reading.held));
  }
  void set_head(model::Paragraph* paragraph) {
    if (paragraph == nullptr) return;
    set_paragraph_head(*paragraph, reading.text_head, true, reading.held);
    referring = blocks.size() - 1;
  }
  std::size_t control(std::uint32_t id, Records records, std::size_t p, std::uint16_t level,
                      unsigned depth) {
    if (is_layer_control(id)) {
      return read_layer_control(id, records, p, level, depth, reading, blocks, referring);
    }
    if (id == kTableId && depth < kMaxTableDepth) {
      ModelTableResult nested = read_table_within(records, p, level, depth + 1, reading);
      if (nested.table) blocks.emplace_back(std::move(*nested.table));
      return nested.consumed;
    }
    if (id == kEquationId) {
      EquationResult equation = convert_equation(records, p, level);
      if (equation.script) {
        blocks.push_back(equation_block(*equation.script, reading.origin, reading.held));
      }
      return equation.consumed;
    }
    if (id == kDrawingId) {
      DrawingResult drawing = convert_drawing_object(records, p, level);
      if (drawing.block) add_drawing_blocks(drawing, reading.origin, blocks, reading.held);
      return drawing.consumed;
    }
    return skip_control(records, p, level);
  }
};

model::CaptionSide caption_side(Bytes list_header) {
  switch (u32_at(list_header, kCaptionSideOffset).value_or(3) & 3) {
    case 0:
      return model::CaptionSide::Left;
    case 1:
      return model::CaptionSide::Right;
    case 2:
      return model::CaptionSide::Top;
    default:
      return model::CaptionSide::Bottom;
  }
}

// The address, spans and header mark of a cell's LIST_HEADER; false when it is too short to
// hold them.
bool read_cell_place(Bytes list_header, model::Cell& cell) {
  const auto span = u16_at(list_header, kCellRowSpanOffset);
  if (!span) return false;
  cell.column = *u16_at(list_header, kCellColumnOffset);
  cell.row = *u16_at(list_header, kCellRowOffset);
  cell.column_span = *u16_at(list_header, kCellColumnSpanOffset);
  cell.row_span = *span;
  cell.header = (*u16_at(list_header, kCellMarksOffset) & kHeaderCellMark) != 0;
  return true;
}

// The rows a TABLE record declares: the cells listed in each row, in record order.
class DeclaredRows {
 public:
  DeclaredRows(Bytes payload, std::size_t rows) : payload_(payload), rows_(rows) {
    for (std::size_t k = 0; k < rows; ++k) total_ += count(k);
    left_in_row_ = rows > 0 ? count(0) : 0;
  }

  std::uint64_t total() const noexcept { return total_; }

  // The row the next cell is listed in; cells past the declared ones share one more row.
  std::uint32_t next_cell() noexcept {
    while (row_ < rows_ && left_in_row_ == 0) {
      ++row_;
      if (row_ < rows_) left_in_row_ = count(row_);
    }
    if (row_ < rows_) --left_in_row_;
    return static_cast<std::uint32_t>(row_);
  }

 private:
  std::uint16_t count(std::size_t row) const noexcept {
    return *u16_at(payload_, kCellCountsOffset + 2 * row);
  }

  Bytes payload_;
  std::size_t rows_;
  std::size_t row_ = 0;
  std::uint32_t left_in_row_ = 0;
  std::uint64_t total_ = 0;
};

ModelTableResult read_table_within(Records records, std::size_t start, std::uint16_t level,
                                   unsigned depth, ModelReading& reading) {
  const std::size_t n = records.size();
  const unsigned child_level = unsigned{level} + 1;
  model::Table table;
  table.origin = reading.origin;

  std::size_t t = start;
  bool captioned = false;
  while (t < n && records[t].level >= child_level && !is_table_record(records[t], child_level)) {
    if (!is_cell_start(records[t], child_level)) {
      ++t;
      continue;
    }
    // A list before the TABLE record is the caption (the first gives its side).
    if (!captioned) table.caption_side = caption_side(records[t].data());
    captioned = true;
    ++t;
    ListBlocks<true> caption{reading, table.caption};
    read_list(records, t, child_level, depth, caption);
  }
  if (t >= n || records[t].level < child_level) return {std::nullopt, t - start};

  const Bytes payload = records[t].data();
  if (payload.size() < kTableMinSize) return {std::nullopt, t - start + 1};
  table.row_count = *u16_at(payload, kRowCountOffset);
  table.column_count = *u16_at(payload, kColumnCountOffset);
  DeclaredRows rows(
      payload, std::min<std::size_t>(table.row_count, (payload.size() - kCellCountsOffset) / 2));

  std::size_t p = t + 1;
  // Each declared cell takes a record at least.
  table.cells.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(rows.total(), n - p)));
  while (p < n && records[p].level >= child_level) {
    if (!is_cell_start(records[p], child_level)) {
      ++p;
      continue;
    }
    const Bytes list_header = records[p].data();
    ++p;
    reading.held.add(HeldSize::kPerCell);
    model::Cell& cell = table.cells.emplace_back();
    if (!read_cell_place(list_header, cell)) table.listing_agrees = false;
    cell.listed_row = rows.next_cell();
    ListBlocks<false> content{reading, cell.blocks};
    read_list(records, p, child_level, depth, content);
  }
  if (table.cells.empty()) return {std::nullopt, p - start};
  if (table.cells.size() != rows.total()) table.listing_agrees = false;
  reading.held.add(HeldSize::kPerBlock);
  return {std::move(table), p - start};
}

// The blocks of the control's list: the first list header directly below it, and the
// paragraphs after it. Returns the records consumed, the whole subtree.
std::size_t read_control_list(Records records, std::size_t start, std::uint16_t level,
                              unsigned depth, ModelReading& reading,
                              std::vector<model::Block>& blocks) {
  const std::size_t n = records.size();
  const unsigned child_level = unsigned{level} + 1;
  std::size_t p = start;
  while (p < n && records[p].level >= child_level && !is_cell_start(records[p], child_level)) {
    ++p;
  }
  if (p < n && is_cell_start(records[p], child_level)) {
    ++p;
    ListBlocks<false> content{reading, blocks};
    read_list(records, p, child_level, depth, content);
  }
  return skip_control(records, start, level);
}

model::Pages furniture_pages(const Record& control) {
  switch (u32_at(control.data(), kFurniturePagesOffset).value_or(0) & 3) {
    case 1:
      return model::Pages::Even;
    case 2:
      return model::Pages::Odd;
    default:
      return model::Pages::Both;
  }
}

std::size_t read_layer_control(std::uint32_t id, Records records, std::size_t start,
                               std::uint16_t level, unsigned depth, ModelReading& reading,
                               std::vector<model::Block>& blocks, std::size_t referring) {
  std::vector<model::Block> content;
  // Notes and comments nest no deeper than tables do.
  if (depth >= kMaxTableDepth) return skip_control(records, start, level);
  const std::size_t consumed =
      read_control_list(records, start, level, depth + 1, reading, content);
  if (id == kFootnoteId || id == kEndnoteId) {
    const std::uint32_t note = reading.builder.add_note(
        id == kFootnoteId ? model::NoteKind::Footnote : model::NoteKind::Endnote, reading.origin,
        std::move(content));
    model::Paragraph* paragraph =
        referring < blocks.size() ? std::get_if<model::Paragraph>(&blocks[referring]) : nullptr;
    if (paragraph == nullptr) {
      // A note whose paragraph shows no text still has its reference where it stands.
      reading.held.add(HeldSize::kPerBlock);
      model::Paragraph holder;
      holder.origin = reading.origin;
      paragraph = &std::get<model::Paragraph>(blocks.emplace_back(std::move(holder)));
    }
    resolve_note_reference(*paragraph, note);
  } else if (id == kHeaderId || id == kFooterId) {
    reading.builder.add_furniture(
        {id == kHeaderId ? model::FurnitureKind::Header : model::FurnitureKind::Footer,
         furniture_pages(records[start - 1]), reading.origin, std::move(content)});
  } else {
    reading.builder.add_annotation(
        {model::AnnotationKind::HiddenComment, reading.origin, std::move(content)});
  }
  return consumed;
}

}  // namespace

TableResult convert_table(Records records, std::size_t start, std::uint16_t level, unsigned depth) {
  TableReading reading;
  return convert_table_within(records, start, level, depth, reading);
}

ModelTableResult read_table(Records records, std::size_t start, std::uint16_t level,
                            model::Origin origin, DocumentBuilder& builder) {
  ModelReading reading(origin, builder);
  return read_table_within(records, start, level, 0, reading);
}

std::size_t read_layer(std::uint32_t id, Records records, std::size_t start, std::uint16_t level,
                       model::Origin origin, DocumentBuilder& builder,
                       std::vector<model::Block>& blocks, std::size_t referring) {
  ModelReading reading(origin, builder);
  return read_layer_control(id, records, start, level, 0, reading, blocks, referring);
}

}  // namespace paravox
