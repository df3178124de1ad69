// Controls met during the walk: skipping, equations and drawing objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "document/block.h"
#include "document/document_builder.h"
#include "hwp/records.h"

namespace paravox {

// Control ids (CTRL_HEADER bytes 0..3, little-endian).
inline constexpr std::uint32_t kTableId = 0x74626C20;     // 'tbl '
inline constexpr std::uint32_t kDrawingId = 0x67736F20;   // 'gso '
inline constexpr std::uint32_t kEquationId = 0x65716564;  // 'eqed'

// Control id of a CTRL_HEADER record; 0 when its payload is shorter than 4 bytes.
std::uint32_t control_id(const Record& record) noexcept;

// Records after `start` whose level is greater than `level`: the control's subtree.
std::size_t skip_control(Records records, std::size_t start, std::uint16_t level) noexcept;

struct EquationResult {
  std::optional<std::string> script;
  std::size_t consumed = 0;
};
// Reads the first EQEDIT directly below the control (level + 1); consumes the subtree.
EquationResult convert_equation(Records records, std::size_t start, std::uint16_t level);

struct DrawingResult {
  std::optional<Block> block;  // Paragraph or Image
  std::size_t consumed = 0;
  // The text of the shapes beside the picture of an Image block (a group holding pictures and
  // text boxes), joined by line feeds; empty otherwise. Only the full profile writes it.
  std::string text_beside_picture;
};
// Caption phase, then contents phase after the first SHAPE_COMPONENT at level + 1.
DrawingResult convert_drawing_object(Records records, std::size_t start, std::uint16_t level);

// The full profile's blocks of a drawing object with a block: drawing_block's, then the
// paragraph of the text beside its picture, into `blocks`.
void add_drawing_blocks(DrawingResult& drawing, model::Origin origin,
                        std::vector<model::Block>& blocks, HeldSize& held);

}  // namespace paravox
