#include "document/table_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace paravox {
namespace {

// A cell: address, spans and text ("" for an empty cell).
struct CellBox {
  std::uint16_t row, column, row_span, column_span;
  std::string text;
};

model::Table table_of(std::uint16_t rows, std::uint16_t columns,
                      const std::vector<CellBox>& cells) {
  model::Table table;
  table.row_count = rows;
  table.column_count = columns;
  for (const CellBox& box : cells) {
    model::Cell& cell = table.cells.emplace_back();
    cell.row = box.row;
    cell.column = box.column;
    cell.row_span = box.row_span;
    cell.column_span = box.column_span;
    cell.listed_row = box.row;
    if (!box.text.empty()) {
      model::Paragraph paragraph;
      paragraph.text = box.text;
      cell.blocks.emplace_back(std::move(paragraph));
    }
  }
  return table;
}

// "ROWSxCOLUMNS" (with "~" when in record order), then each placed cell as
// "row,column+row_spanxcolumn_span:text".
std::string dump(const TableLayout& layout) {
  std::string out = std::to_string(layout.row_count) + "x" + std::to_string(layout.column_count);
  if (layout.in_record_order) out += "~";
  for (const PlacedCell& placed : layout.cells) {
    const auto& blocks = placed.cell->blocks;
    out += " " + std::to_string(placed.row) + "," + std::to_string(placed.column) + "+" +
           std::to_string(placed.row_span) + "x" + std::to_string(placed.column_span) + ":" +
           (blocks.empty() ? "" : std::get<model::Paragraph>(blocks.front()).text);
  }
  return out;
}

// Tables far larger than their cells (as only crafted files declare) are checked and placed by
// runs of rows and columns rather than line by line; both ways must agree with the small ones.
TEST(LayOutTable, WideGridsArePlacedLikeSmallOnes) {
  constexpr std::uint16_t kMax = 65535;
  struct Case {
    const char* name;
    model::Table table;
    std::string layout;
  };
  const std::vector<Case> cases = {
      {"one cell spanning the widest grid", table_of(kMax, kMax, {{0, 0, kMax, kMax, "a"}}),
       "65535x65535 0,0+65535x65535:a"},
      {"a tall cell keeps the rows it crosses, an empty one shrinks",
       table_of(kMax, 3,
                {{0, 0, kMax, 1, "a"},
                 {0, 1, kMax - 1, 2, ""},
                 {kMax - 1, 1, 1, 1, "c"},
                 {kMax - 1, 2, 1, 1, ""}}),
       "65535x2 0,0+65535x1:a 0,1+65534x1: 65534,1+1x1:c"},
      {"rows without text between two far apart are left out",
       table_of(kMax, 1, {{0, 0, 1, 1, "a"}, {1, 0, kMax - 2, 1, ""}, {kMax - 1, 0, 1, 1, "b"}}),
       "2x1 0,0+1x1:a 1,0+1x1:b"},
      {"an overlap in a wide row puts the cells in record order",
       table_of(1, kMax, {{0, 0, 1, kMax, "a"}, {0, 100, 1, 1, "b"}}), "1x2~ 0,0+1x1:a 0,1+1x1:b"},
      {"a hole in a wide grid puts the cells in record order",
       table_of(kMax, kMax, {{0, 0, kMax, kMax - 1, "a"}}), "1x1~ 0,0+1x1:a"},
      {"a span running past the declared size", table_of(2, 2, {{0, 0, 2, 3, "a"}}),
       "1x1~ 0,0+1x1:a"},
      {"a zero span", table_of(1, 2, {{0, 0, 1, 0, "a"}, {0, 1, 1, 1, "b"}}),
       "1x2~ 0,0+1x1:a 0,1+1x1:b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(dump(lay_out_table(c.table)), c.layout) << c.name;
  }
}

}  // namespace
}  // namespace paravox
