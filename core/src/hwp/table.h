// Table controls: conversion into rows of cell texts and Markdown pipe tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "document/block.h"
#include "hwp/objects.h"

namespace paravox {

// Tables at depths 0..kMaxTableDepth convert; tables inside a table of this depth are skipped.
inline constexpr unsigned kMaxTableDepth = 3;

struct TableResult {
  std::optional<Table> table;
  std::size_t consumed = 0;  // counted from `start`, also when no table is produced
};

// Converts the table control whose CTRL_HEADER (level `level`) precedes `start`.
TableResult convert_table(Records records, std::size_t start, std::uint16_t level, unsigned depth);

// "|" becomes "\|", then every line feed becomes a space.
std::string escape_cell_text(std::string_view text);

// Number of bytes render_table appends for `table`, computed without writing them.
std::uint64_t rendered_table_size(const Table& table) noexcept;

// Appends `table` as a pipe table (header row, "---" separator, rows, empty line).
// Throws OutputLimitExceeded before `out` would pass kOutputLimit.
void render_table(const Table& table, std::string& out);

// render_table for a caller that has already counted rendered_table_size(table) into a total
// it checked against kOutputLimit: the same bytes, without measuring the table again.
void render_measured_table(const Table& table, std::string& out);

}  // namespace paravox
