// Units of converted output, collected by the section walk and written by assembly.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace paravox {

// Tables nested at depths 0..kMaxTableDepth convert; tables inside a table of this depth are
// left out.
inline constexpr unsigned kMaxTableDepth = 3;

struct TableCell {
  std::string text;
};

// One table row. Declared cells that have no LIST_HEADER behind them are empty and always
// come after the read ones, so they are counted in `trailing_empty_cells` instead of being
// stored: a table's memory follows its records, not its declared size.
struct TableRow {
  std::vector<TableCell> cells;
  std::uint32_t trailing_empty_cells = 0;

  std::size_t cell_count() const noexcept { return cells.size() + trailing_empty_cells; }
};

// At least one row. Declared rows whose cell count lies beyond the TABLE payload have no
// cells and always come last, so they are counted in `trailing_empty_rows` instead of
// being stored: a 20-byte TABLE record can declare 65,535 rows.
struct Table {
  std::vector<TableRow> rows;
  std::uint32_t trailing_empty_rows = 0;

  std::size_t row_count() const noexcept { return rows.size() + trailing_empty_rows; }
};

struct Paragraph {
  std::string text;
};
struct Equation {
  std::string script;
};
struct Image {
  explicit Image(std::string caption_text, std::uint16_t number = 0, std::string name = {})
      : caption(std::move(caption_text)), item_number(number), item_name(std::move(name)) {}

  std::string caption;  // possibly empty
  // The binary-data item shown (model::Picture's item_number and item_name).
  std::uint16_t item_number = 0;
  std::string item_name;
};

using Block = std::variant<Paragraph, Table, Equation, Image>;

// Raised only when text being built would pass kOutputLimit (a crafted table or field
// expansion); caught by the conversion entry point and returned as a Parse error. Like
// std::bad_alloc it unwinds from deep inside nested tables; ordinary bad input never throws.
struct OutputLimitExceeded {};

}  // namespace paravox
