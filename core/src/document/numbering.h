// Paragraph numbers as the word processor shows them: the number text of outline and
// numbered paragraphs, counted in reading order, and which paragraphs are headings or
// bullet items.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "document/styles.h"

namespace paravox {

// Appends `value` written as `kind` writes it. Past the characters a kind has (26 letters,
// 14 Hangul syllables or jamo, 20 circled digits, ...) it goes on as the word processor's
// sequences do where that is known, and in a plain form where it is not: see numbering.cpp.
void append_number(std::string& out, NumberKind kind, std::uint32_t value);

// The numbering outline paragraphs use in a section that names none: 1. 가. 1) 가) (1) (가) ①,
// the outline numbering the word processor gives every new document.
const Numbering& default_outline_numbering();

// What comes before one paragraph.
struct ParagraphHead {
  HeadKind kind = HeadKind::None;  // the paragraph shape's head
  std::uint8_t level = 0;          // 1-10 for a head, 0 for none
  // 1-10 when the paragraph is a heading: an outline paragraph, or one whose style is an
  // outline style; 0 otherwise.
  std::uint8_t heading_level = 0;
  // Outline and Number: the number text as shown ("1.", "가)", "제3장"); Bullet: the bullet
  // character; None: empty.
  std::string text;
};

// Numbers the paragraphs of one document, given one at a time in reading order. Each
// numbering counts on its own across the whole document: paragraphs of other numberings, or
// of none, between two of its paragraphs leave its count where it was, and a deeper level
// starts again after each paragraph of a shallower one. Starting a numbering anew is a
// paragraph shape that refers to another numbering definition, which both formats write for
// it. Outline paragraphs count by the numbering their section names, on counts of their own.
//
// `styles` must outlive the object. A paragraph without a head costs two bounds-checked
// look-ups and allocates nothing.
class ParagraphNumbering {
 public:
  explicit ParagraphNumbering(const DocumentStyles& styles) noexcept : styles_(&styles) {}

  // A section begins whose outline paragraphs number by numbering `outline_numbering_id`
  // (the binary section definition's, HWPX's hp:secPr outlineShapeIDRef); 0, or an id that
  // names no numbering, selects default_outline_numbering().
  void begin_section(std::uint16_t outline_numbering_id) noexcept;

  // The head of the next paragraph, given its paragraph shape id and style id (ids that name
  // nothing count as no head and no style). The reference stays valid until the next call.
  const ParagraphHead& next(std::uint16_t para_shape_id, std::uint16_t style_id);

 private:
  // The current number of each level, 0 for a level not counted since a shallower one.
  using Counts = std::array<std::uint32_t, kNumberingLevels>;

  void count_and_write(const Numbering& numbering, Counts& counts, std::uint8_t level);

  const DocumentStyles* styles_;
  std::uint16_t outline_id_ = 0;
  // Indexed by numbering id; index 0 of outline_counts_ is the default outline numbering's.
  // Sized at the first numbered paragraph.
  std::vector<Counts> number_counts_;
  std::vector<Counts> outline_counts_;
  ParagraphHead head_;
};

}  // namespace paravox
