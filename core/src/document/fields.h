// Click-here fields and the finishing of paragraphs and cell text into their blocks.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_cursor.h"
#include "document/block.h"

namespace paravox {

// One attached field control: name, guide text and modified flag.
struct FieldInfo {
  std::string name;
  std::string direction;
  bool modified = false;
};

// A decoded paragraph waiting for its field controls. `field_infos` never grows past
// `field_texts` (callers attach only while awaits_field_control()).
struct PendingParagraph {
  std::string text;
  std::vector<std::string> field_texts;
  std::vector<FieldInfo> field_infos;

  // Whether a field of the paragraph has no control attached yet.
  bool awaits_field_control() const noexcept { return field_infos.size() < field_texts.size(); }
};

// The paragraph's text with marker N replaced, for N ascending, by render_field of
// field_infos[N] (or by field_texts[N] alone when there is no such info).
// Throws OutputLimitExceeded when the result would pass kOutputLimit, and when text crafted to
// need one copying pass per field index would make those passes copy more than kOutputLimit
// bytes in all.
std::string substitute_field_markers(const PendingParagraph& paragraph);

// Whether substitute_field_markers does its work in one left-to-right pass rather than one
// pass per field index. It does for every decoded paragraph whose fields all have their
// FieldInfo, unless U+E000 occurs in the document's own characters, field names or guide texts,
// or the text between two adjacent fields is only digits spelling an index lower than the
// first one's (the mark closing one marker, those digits and the mark opening the next then
// make a marker of their own, which the passes replace first).
bool substitutes_in_one_pass(const PendingParagraph& paragraph);

// "{{name}}", "{{name: direction}}", "{{name --> shown}}" or "{{name: direction --> shown}}";
// the shown text is left out when empty or redundant (modified clear and direction empty
// or equal to it).
std::string render_field(const FieldInfo& field, std::string_view shown);

// Body paragraphs: empties `slot`; appends a Paragraph block with the substituted text
// (untrimmed) unless it is blank.
void finish_paragraph(std::optional<PendingParagraph>& slot, std::vector<Block>& blocks);

// Table cells: empties `slot`; appends the trimmed substituted text to `cell_text`, after
// one space when the cell already holds text. A blank paragraph adds nothing.
void finish_cell_paragraph(std::optional<PendingParagraph>& slot, std::string& cell_text);

// What finish_cell_paragraph appends for a paragraph whose text needs no substitution: the
// trimmed `text`, after one space when the cell already holds text; nothing when it is blank.
// Throws OutputLimitExceeded when the cell would pass kOutputLimit.
void append_cell_text(std::string& cell_text, std::string_view text);

// Appends the non-empty cell texts of `nested` to `cell_text`, separated by single spaces.
void flatten_table_text(const Table& nested, std::string& cell_text);

// The guide text behind "Direction:wstring:<digits>:" in a click-here field's command
// (`command`: UTF-16LE code units; HWPX keeps the same command in the field's "Command"
// parameter): the first occurrence of the key followed by a decimal length and a colon, then
// that many units or the rest of the command. Nothing when the command holds no such guide
// text or the text is not valid UTF-16.
std::optional<std::string> guide_text(Bytes command);

}  // namespace paravox
