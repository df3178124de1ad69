// The walk over one HWPX section part: the same blocks as the binary section walk.
#pragma once

#include <string_view>

#include "base/byte_cursor.h"
#include "base/error.h"
#include "document/document_builder.h"
#include "document/markdown.h"

namespace paravox {

// Reads the section part `xml` and adds its blocks to `writer`. Fails with a Package error,
// having added part of the section's blocks, when the part is not well-formed XML, declares
// entities or nests too deeply. Throws OutputLimitExceeded when the document's Markdown would
// pass kOutputLimit.
//
// Correspondence with the binary format: each hp:p is a paragraph; the elements of a run other
// than its text (hp:t) and inline marks, and the children of hp:ctrl other than hp:fieldEnd,
// are the paragraph's controls, in order. A click-here hp:fieldBegin attaches to the paragraph
// while no other control came before it; every other control ends the attaching. Tables
// (hp:tbl), equations (hp:equation) and drawing objects (hp:pic, hp:rect, hp:container, ...)
// give blocks after the paragraph's own text; every other control and its contents (section
// and column definitions, headers, footers, notes, fields of other kinds, ...) gives nothing.
Status walk_section_part(Bytes xml, std::string_view part_name, MarkdownWriter& writer);

// The full profile's walk: the same reading into `document`, whose section index the caller
// has set. Tables keep their caption (hp:caption, its side), declared size (rowCnt, colCnt)
// and cells with their addresses and spans (hp:cellAddr, hp:cellSpan after the cell's
// hp:subList), header marks (hp:tc header) and blocks; equations and drawing objects count
// in cells too. Throws OutputLimitExceeded when the model would pass kOutputLimit.
Status walk_section_part(Bytes xml, std::string_view part_name, DocumentBuilder& document);

}  // namespace paravox
