// Table controls: conversion into rows of cell texts (the minimal profile), or into the
// model's table with its caption, declared size and addressed cells (the full profile).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "document/block.h"
#include "document/document_builder.h"
#include "document/model.h"
#include "document/numbering.h"
#include "hwp/objects.h"

namespace paravox {

struct TableResult {
  std::optional<Table> table;
  std::size_t consumed = 0;  // counted from `start`, also when no table is produced
};

// Converts the table control whose CTRL_HEADER (level `level`) precedes `start`.
TableResult convert_table(Records records, std::size_t start, std::uint16_t level, unsigned depth);

struct ModelTableResult {
  std::optional<model::Table> table;
  std::size_t consumed = 0;  // counted from `start`, also when no table is produced
};

// Reads the table control whose CTRL_HEADER (level `level`) precedes `start` into the model,
// every block of it from `origin` and counted in `held`:
// - a list at the table's level before the TABLE record is the caption, its side in bits 0-1
//   of the u32 at offset 8 of that list header (0 left, 1 right, 2 top, 3 bottom);
// - the TABLE record gives the declared row and column counts and, per row, the number of
//   cells that start in it; a record shorter than 18 bytes holds no table, and the records
//   after it are left to the caller, as convert_table leaves them;
// - every list header at the table's level after it is a cell, whatever the declared counts:
//   its u16 at offset 6 marks a header cell with bit 2, and offsets 8-15 hold the column and
//   row address and the column and row span (u16 each). A header shorter than 16 bytes, or
//   a number of cells other than the counts declare, makes the listing disagree.
// Cells hold their paragraphs, equations, drawing objects and nested tables (to depth
// kMaxTableDepth) as blocks, their paragraphs numbered by `numbering` (never as headings).
// No table when there is no TABLE record or no cell.
ModelTableResult read_table(Records records, std::size_t start, std::uint16_t level,
                            model::Origin origin, HeldSize& held, ParagraphNumbering& numbering);

}  // namespace paravox
