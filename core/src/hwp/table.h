// Table controls: conversion into rows of cell texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "document/block.h"
#include "hwp/objects.h"

namespace paravox {

struct TableResult {
  std::optional<Table> table;
  std::size_t consumed = 0;  // counted from `start`, also when no table is produced
};

// Converts the table control whose CTRL_HEADER (level `level`) precedes `start`.
TableResult convert_table(Records records, std::size_t start, std::uint16_t level, unsigned depth);

}  // namespace paravox
