// The DocInfo stream: the document's paragraph shapes, numberings, bullets, styles and
// binary-data items.
#pragma once

#include <cstdint>

#include "base/byte_cursor.h"
#include "base/error.h"
#include "document/numbering.h"
#include "document/styles.h"
#include "hwp/container.h"

namespace paravox {

// The definitions held in DocInfo record bytes (inflated). Never fails: a record cut short
// gives what its whole fields hold, and records past a cut header are not there. Every
// paragraph shape, numbering, bullet and style record takes its place in the order, however
// little of it can be read, so that the ids of the records after it stay right.
DocumentStyles read_docinfo(Bytes docinfo);

// Reads "/DocInfo", inflated when `compressed`, and its definitions.
// Errors: those of read_section_stream (a missing, unreadable or corrupt stream).
Result<DocumentStyles> read_document_styles(Container& container, bool compressed);

// The numbering id a section definition (the payload of a 'secd' CTRL_HEADER, from its
// control id on) gives the section's outline paragraphs; 0 when the payload is too short.
std::uint16_t section_outline_numbering(Bytes section_definition);

// Numbers the paragraph whose PARA_HEADER payload is `header` (paragraph shape id at 8-9,
// style id at 10; a header too short for them names shape or style 0).
const ParagraphHead& next_paragraph_head(ParagraphNumbering& numbering, Bytes header);

}  // namespace paravox
