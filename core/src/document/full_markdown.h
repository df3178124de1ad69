// Writing the full profile's document as Markdown.
//
// Paragraphs, equations and pictures are written as the minimal profile writes them. A table
// is placed as the document draws it (table_layout.h), then:
// - a table left with no cell is left out, and one left with a single cell (a frame drawn
//   around text) gives that cell's blocks as ordinary blocks;
// - a table without merged cells and without a nested table is a pipe table, its first row
//   the header row;
// - any other table is one HTML <table> on a line of its own: <tr> rows of <td> cells (<th>
//   for header cells), rowspan and colspan only when above 1. A nested table is written
//   inside its cell, always in this form.
// Inside a cell its blocks are separated by <br>: a paragraph's text (its line feeds become
// <br> too), an equation as $script$, a picture as its placeholder. Text that would break the
// form is escaped: "|" (and a backslash run before it or at the end of the text) in a pipe
// table, "&", "<" and ">" in HTML. A caption is written as ordinary blocks above its table
// for a top or left caption, below it for a bottom or right one.
//
// A note reference is written where it stands as "[^1]", "[^2]"... for footnotes and "[^e1]"...
// for endnotes (their ordinals), in the body and in cells alike; after the body come the
// footnotes' definitions, then the endnotes', "[^1]: " and the note's blocks, every line after
// the first indented by four spaces. Headers and footers are written only when asked, at the
// start of the section that defines them, each whose Markdown differs from those written before.
#pragma once

#include <cstddef>
#include <string>

#include "document/model.h"

namespace paravox {

// The Markdown of `document`, trailing white space removed, written into room for
// `expected_size` bytes. Throws OutputLimitExceeded before the text would pass kOutputLimit.
std::string render_markdown(const model::Document& document, std::size_t expected_size = 0,
                            bool headers_footers = false);

}  // namespace paravox
