// Writing the full profile's document as Markdown.
//
// Paragraphs, equations and pictures are written as the minimal profile writes them, except
// that a paragraph shows its role:
// - a heading is "#" repeated for its level (six at most), its number text and its text on
//   one line ("## 가. 범위");
// - a bulleted item is "- " and its text (the bullet character is left out), indented two
//   spaces per level below the first, nesting at most one level below the item before it;
// - a numbered item is a plain paragraph, its number text before its text with the number's
//   "." or ")" escaped when Markdown would read it as an ordered list's ("3\. 범위").
// Inside a cell a paragraph is its number text and its text, or "- " and its text. A table
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
#include <string_view>

#include "document/model.h"

namespace paravox {

// The Markdown of `document`, trailing white space removed, written into room for
// `expected_size` bytes. Throws OutputLimitExceeded before the text would pass kOutputLimit.
// With a `picture_folder`, a numbered picture (number_pictures) is written as a link to its
// file in that folder, ![caption](FOLDER/image1.png) (<img src alt> inside an HTML cell),
// instead of its placeholder; the folder's bytes that a link cannot hold are percent-encoded.
// With `headers_footers`, each distinct header and footer is written once, before the first
// block of the section that defines it.
std::string render_markdown(const model::Document& document, std::size_t expected_size = 0,
                            std::string_view picture_folder = {}, bool headers_footers = false);

}  // namespace paravox
