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
// kMaxTableDepth) as blocks, their paragraphs numbered by `builder`'s numbering (never as
// headings).
// No table when there is no TABLE record or no cell.
ModelTableResult read_table(Records records, std::size_t start, std::uint16_t level,
                            model::Origin origin, DocumentBuilder& builder);

// Control ids of the layers beside the body, each holding a list of paragraphs.
inline constexpr std::uint32_t kFootnoteId = 0x666E2020;       // 'fn  '
inline constexpr std::uint32_t kEndnoteId = 0x656E2020;        // 'en  '
inline constexpr std::uint32_t kHeaderId = 0x68656164;         // 'head'
inline constexpr std::uint32_t kFooterId = 0x666F6F74;         // 'foot'
inline constexpr std::uint32_t kHiddenCommentId = 0x74636D74;  // 'tcmt'

constexpr bool is_layer_control(std::uint32_t id) noexcept {
  return id == kFootnoteId || id == kEndnoteId || id == kHeaderId || id == kFooterId ||
         id == kHiddenCommentId;
}

// Reads the layer control `id` (is_layer_control) whose CTRL_HEADER precedes `start` into
// `builder`: its list (the first list header directly below it and the paragraphs after
// it) as a note, a header or footer (the pages in bits 0-1 of the u32 at 4 of its
// CTRL_HEADER: 0 both, 1 even, 2 odd) or a hidden comment, all from `origin`. A note's
// reference goes to blocks[referring], the paragraph whose text holds its mark (a paragraph of
// its own at the end of `blocks` when `referring` is past the end). Returns the records
// consumed.
std::size_t read_layer(std::uint32_t id, Records records, std::size_t start, std::uint16_t level,
                       model::Origin origin, DocumentBuilder& builder,
                       std::vector<model::Block>& blocks, std::size_t referring);

}  // namespace paravox
