// Placing a table's cells as the document draws them: at the addresses the file gives, with
// the rows and columns that hold no content left out.
#pragma once

#include <cstdint>
#include <vector>

#include "document/model.h"

namespace paravox {

// Whether `cell` renders anything: a paragraph, an equation, a picture, or a nested table
// with such a cell.
bool has_content(const model::Cell& cell) noexcept;
bool has_content(const model::Table& table) noexcept;

// Whether the cells' addresses and spans tile the declared grid exactly: every span at least
// 1, every cell inside the declared size, no two cells overlapping and no position left
// uncovered. A table without cells is sound. Time O(n log n) for n cells, whatever the spans.
bool tiles_declared_grid(const model::Table& table);

// A cell at its place in the drawn table.
struct PlacedCell {
  const model::Cell* cell = nullptr;
  std::uint32_t row = 0;
  std::uint32_t column = 0;
  std::uint32_t row_span = 1;
  std::uint32_t column_span = 1;
};

// A table's cells on their grid. A row or column in which no cell has content, and that no
// spanning cell with content crosses, is left out: a span shrinks by the left-out rows and
// columns it crosses, a cell starts at the first kept row and column it covers, and a cell
// covering no kept row or no kept column is gone.
struct TableLayout {
  std::uint32_t row_count = 0;
  std::uint32_t column_count = 0;
  std::vector<PlacedCell> cells;  // row by row, left to right
  // The file's listing disagreed with itself or the addresses did not tile the declared grid:
  // the cells stand in the order the file lists them, row by row, each one row and column.
  bool in_record_order = false;

  bool has_merged_cells() const noexcept;
};

// Places `table`'s cells by their addresses when the listing agrees and the addresses tile
// the declared grid, otherwise in record order; then leaves out the rows and columns without
// content. No cell with content is ever lost.
TableLayout lay_out_table(const model::Table& table);

}  // namespace paravox
