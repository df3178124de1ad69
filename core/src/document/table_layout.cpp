#include "document/table_layout.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <utility>

namespace paravox {
namespace {

// A cell's rectangle on some grid, with its index in the table's cell list.
struct Rect {
  std::uint32_t row;
  std::uint32_t column;
  std::uint32_t row_span;
  std::uint32_t column_span;
  std::uint32_t index;
};

// How many columns per cell the tiling check may visit one by one before it turns to runs.
constexpr std::uint64_t kColumnsVisitedPerCell = 64;

bool row_major(const Rect& a, const Rect& b) noexcept {
  return a.row != b.row ? a.row < b.row : a.column < b.column;
}

std::vector<Rect> declared_rects(const model::Table& table) {
  std::vector<Rect> rects;
  rects.reserve(table.cells.size());
  for (std::size_t i = 0; i < table.cells.size(); ++i) {
    const model::Cell& cell = table.cells[i];
    rects.push_back(
        {cell.row, cell.column, cell.row_span, cell.column_span, static_cast<std::uint32_t>(i)});
  }
  return rects;
}

// Each cell one row and column, at its place in the row the file lists it in.
std::vector<Rect> listed_rects(const model::Table& table) {
  std::vector<Rect> rects;
  rects.reserve(table.cells.size());
  std::uint32_t column = 0;
  for (std::size_t i = 0; i < table.cells.size(); ++i) {
    const std::uint32_t row = table.cells[i].listed_row;
    if (i > 0 && row != table.cells[i - 1].listed_row) column = 0;
    rects.push_back({row, column++, 1, 1, static_cast<std::uint32_t>(i)});
  }
  return rects;
}

// Whether `rects` (in row-major order) tile rows x columns exactly, by a skyline: for each
// column, the first row not yet covered. Taken in row-major order, a tiling puts every cell
// where all its columns stand exactly at its row, and leaves every column covered to the last
// row. This form holds one height per column and costs the sum of the column spans.
bool tiles_by_columns(const std::vector<Rect>& rects, std::uint32_t rows, std::uint32_t columns) {
  std::vector<std::uint32_t> height(columns, 0);
  for (const Rect& rect : rects) {
    for (std::uint32_t c = rect.column; c < rect.column + rect.column_span; ++c) {
      if (height[c] != rect.row) return false;
      height[c] = rect.row + rect.row_span;
    }
  }
  return std::all_of(height.begin(), height.end(), [rows](std::uint32_t h) { return h == rows; });
}

// The same skyline as runs of columns of equal height, for spans too wide to visit column by
// column: O(log n) per cell whatever its span.
bool tiles_by_runs(const std::vector<Rect>& rects, std::uint32_t rows, std::uint32_t columns) {
  struct Run {
    std::uint32_t end;
    std::uint32_t height;
  };
  std::map<std::uint32_t, Run> skyline{{0, Run{columns, 0}}};
  for (const Rect& rect : rects) {
    auto run = std::prev(skyline.upper_bound(rect.column));
    const std::uint32_t start = run->first;
    const Run found = run->second;
    const std::uint32_t end = rect.column + rect.column_span;
    if (found.height != rect.row || found.end < end) return false;
    const std::uint32_t height = rect.row + rect.row_span;
    skyline.erase(run);
    if (start < rect.column) skyline.emplace(start, Run{rect.column, found.height});
    if (end < found.end) skyline.emplace(end, Run{found.end, found.height});
    // The new run, merged with neighbours of its height.
    std::uint32_t merged_start = rect.column;
    std::uint32_t merged_end = end;
    auto next = skyline.find(end);
    if (next != skyline.end() && next->second.height == height) {
      merged_end = next->second.end;
      skyline.erase(next);
    }
    auto after = skyline.lower_bound(rect.column);
    if (after != skyline.begin()) {
      auto before = std::prev(after);
      if (before->second.end == rect.column && before->second.height == height) {
        merged_start = before->first;
        skyline.erase(before);
      }
    }
    skyline.emplace(merged_start, Run{merged_end, height});
  }
  return skyline.size() == 1 && skyline.begin()->second.end == columns &&
         skyline.begin()->second.height == rows;
}

bool inside(const Rect& rect, std::uint32_t rows, std::uint32_t columns) noexcept {
  return rect.row_span > 0 && rect.column_span > 0 && rect.row + rect.row_span <= rows &&
         rect.column + rect.column_span <= columns;
}

// The lines (rows or columns) that cells with content cover, and the place of any line among
// the kept ones. A grid that is small beside its cells is numbered line by line; a wide one
// (a crafted table declaring 65,535 rows for a few cells) by sorted runs.
class KeptLines {
 public:
  // `spans` holds [begin, end) of every cell with content; no line reaches past `extent`.
  KeptLines(std::vector<std::pair<std::uint32_t, std::uint32_t>> spans, std::uint32_t extent) {
    if (extent <= kLinesNumberedPerCell * (std::uint64_t{spans.size()} + 1)) {
      // Coverage counted by differences, then each line's place by a running sum.
      std::vector<std::int32_t> starts(std::size_t{extent} + 1, 0);
      for (const auto& [begin, end] : spans) {
        ++starts[begin];
        --starts[end];
      }
      places_.resize(std::size_t{extent} + 1);
      std::int32_t covering = 0;
      std::uint32_t kept = 0;
      for (std::uint32_t x = 0; x <= extent; ++x) {
        places_[x] = kept;
        covering += starts[x];
        if (covering > 0) ++kept;
      }
      count_ = kept;
      return;
    }
    std::sort(spans.begin(), spans.end());
    for (const auto& [begin, end] : spans) {
      if (!runs_.empty() && begin <= runs_.back().end) {
        runs_.back().end = std::max(runs_.back().end, end);
      } else {
        runs_.push_back({begin, end, 0});
      }
    }
    for (Run& run : runs_) {
      run.kept_before = count_;
      count_ += run.end - run.begin;
    }
  }

  std::uint32_t count() const noexcept { return count_; }

  // Number of kept lines before line `x`.
  std::uint32_t index(std::uint32_t x) const noexcept {
    if (!places_.empty()) return places_[x];
    auto run = std::upper_bound(runs_.begin(), runs_.end(), x,
                                [](std::uint32_t value, const Run& r) { return value < r.begin; });
    if (run == runs_.begin()) return 0;
    --run;
    return run->kept_before + std::min(x, run->end) - run->begin;
  }

 private:
  // How long a grid may be, per cell with content, to be numbered line by line.
  static constexpr std::uint64_t kLinesNumberedPerCell = 64;

  struct Run {
    std::uint32_t begin;
    std::uint32_t end;
    std::uint32_t kept_before;
  };
  std::vector<std::uint32_t> places_;
  std::vector<Run> runs_;
  std::uint32_t count_ = 0;
};

// Whether `rects` tile rows x columns exactly; sorts them row-major when they lie inside.
bool tiles(std::vector<Rect>& rects, std::uint32_t rows, std::uint32_t columns) {
  if (!std::all_of(rects.begin(), rects.end(),
                   [&](const Rect& rect) { return inside(rect, rows, columns); })) {
    return false;
  }
  if (!std::is_sorted(rects.begin(), rects.end(), row_major)) {
    std::sort(rects.begin(), rects.end(), row_major);
  }
  // Real tables span a few columns per cell; a crafted one may claim 65,535 for each.
  std::uint64_t column_spans = 0;
  for (const Rect& rect : rects) column_spans += rect.column_span;
  const std::uint64_t cheap = kColumnsVisitedPerCell * (std::uint64_t{rects.size()} + 1);
  if (columns <= cheap && column_spans <= cheap) return tiles_by_columns(rects, rows, columns);
  return tiles_by_runs(rects, rows, columns);
}

}  // namespace

bool has_content(const model::Cell& cell) noexcept {
  return std::any_of(cell.blocks.begin(), cell.blocks.end(), [](const model::Block& block) {
    if (const auto* table = std::get_if<model::Table>(&block)) return has_content(*table);
    // Paragraphs are never blank; equations and pictures always show.
    return true;
  });
}

bool has_content(const model::Table& table) noexcept {
  return std::any_of(table.cells.begin(), table.cells.end(),
                     [](const model::Cell& cell) { return has_content(cell); });
}

bool tiles_declared_grid(const model::Table& table) {
  if (table.cells.empty()) return true;
  std::vector<Rect> rects = declared_rects(table);
  return tiles(rects, table.row_count, table.column_count);
}

bool TableLayout::has_merged_cells() const noexcept {
  return std::any_of(cells.begin(), cells.end(), [](const PlacedCell& placed) {
    return placed.row_span > 1 || placed.column_span > 1;
  });
}

TableLayout lay_out_table(const model::Table& table) {
  TableLayout layout;
  std::vector<Rect> rects = declared_rects(table);
  if (!table.listing_agrees || !tiles(rects, table.row_count, table.column_count)) {
    rects = listed_rects(table);
    layout.in_record_order = true;
  }

  std::vector<std::pair<std::uint32_t, std::uint32_t>> row_spans;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> column_spans;
  std::uint32_t row_extent = 0;
  std::uint32_t column_extent = 0;
  for (const Rect& rect : rects) {
    row_extent = std::max(row_extent, rect.row + rect.row_span);
    column_extent = std::max(column_extent, rect.column + rect.column_span);
    if (!has_content(table.cells[rect.index])) continue;
    row_spans.emplace_back(rect.row, rect.row + rect.row_span);
    column_spans.emplace_back(rect.column, rect.column + rect.column_span);
  }
  const KeptLines rows(std::move(row_spans), row_extent);
  const KeptLines columns(std::move(column_spans), column_extent);
  layout.row_count = rows.count();
  layout.column_count = columns.count();

  layout.cells.reserve(rects.size());
  for (const Rect& rect : rects) {
    const std::uint32_t row = rows.index(rect.row);
    const std::uint32_t row_end = rows.index(rect.row + rect.row_span);
    const std::uint32_t column = columns.index(rect.column);
    const std::uint32_t column_end = columns.index(rect.column + rect.column_span);
    if (row == row_end || column == column_end) continue;
    layout.cells.push_back(
        {&table.cells[rect.index], row, column, row_end - row, column_end - column});
  }
  // A cell whose first row is left out starts further down, after cells that stood below it.
  const auto placed_row_major = [](const PlacedCell& a, const PlacedCell& b) {
    return a.row != b.row ? a.row < b.row : a.column < b.column;
  };
  if (!std::is_sorted(layout.cells.begin(), layout.cells.end(), placed_row_major)) {
    std::sort(layout.cells.begin(), layout.cells.end(), placed_row_major);
  }
  return layout;
}

}  // namespace paravox
