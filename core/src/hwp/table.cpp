#include "hwp/table.h"

#include <algorithm>
#include <utility>

#include "base/error.h"
#include "document/fields.h"
#include "hwp/field_controls.h"
#include "hwp/text.h"

namespace paravox {
namespace {

// TABLE payload: u32 properties, u16 row count, u16 column count, 10 bytes of spacing and
// margins, then one u16 cell count per row.
constexpr std::size_t kTableMinSize = 18;
constexpr std::size_t kRowCountOffset = 4;
constexpr std::size_t kCellCountsOffset = 18;
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

// Finishes the cell's pending paragraph and counts what it added to the cell text.
void finish_cell(std::optional<PendingParagraph>& slot, std::string& text, CellTextBudget& budget) {
  if (!slot) return;
  const std::size_t before = text.size();
  finish_cell_paragraph(slot, text);
  budget.add(text.size() - before);
}

TableResult convert_table_within(Records records, std::size_t start, std::uint16_t level,
                                 unsigned depth, TableReading& reading);

// Reads one cell's records from `p` (just after its LIST_HEADER) up to the next cell or the
// end of the control, leaving `p` there, into `cell` (empty on entry).
void read_cell(Records records, std::size_t& p, unsigned child_level, unsigned depth,
               TableReading& reading, TableCell& cell) {
  const std::size_t n = records.size();
  CellTextBudget& budget = reading.budget;
  std::optional<PendingParagraph> slot;
  while (p < n) {
    const Record& record = records[p];
    if (record.level < child_level || is_cell_start(record, child_level)) break;
    ++p;
    if (record.tag_id == tag::kParaText) {
      finish_cell(slot, cell.text, budget);
      ParaText& decoded = reading.decoded;
      decode_para_text_into(record.data(), decoded);
      if (decoded.field_texts.empty()) {
        // No field control attaches to a paragraph without fields, so nothing can change
        // it before it would be finished: it is finished now.
        const std::size_t before = cell.text.size();
        append_cell_text(cell.text, decoded.text);
        budget.add(cell.text.size() - before);
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

    finish_cell(slot, cell.text, budget);
    if (id == kTableId && depth < kMaxTableDepth) {
      TableResult nested = convert_table_within(records, p, record.level, depth + 1, reading);
      // The nested cells' text was counted when they were read; folding only copies it.
      if (nested.table) flatten_table_text(*nested.table, cell.text);
      p += nested.consumed;
    } else if (id == kEquationId) {
      // An equation inside a cell reaches no output; only its records are consumed.
      p += convert_equation(records, p, record.level).consumed;
    } else {
      p += skip_control(records, p, record.level);
    }
  }
  finish_cell(slot, cell.text, budget);
}

TableResult convert_table_within(Records records, std::size_t start, std::uint16_t level,
                                 unsigned depth, TableReading& reading) {
  const std::size_t n = records.size();
  const unsigned child_level = unsigned{level} + 1;

  std::size_t t = start;
  while (t < n && records[t].level >= child_level &&
         !(records[t].tag_id == tag::kTable && records[t].level == child_level)) {
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

}  // namespace

TableResult convert_table(Records records, std::size_t start, std::uint16_t level, unsigned depth) {
  TableReading reading;
  return convert_table_within(records, start, level, depth, reading);
}

}  // namespace paravox
