// The walk over one HWPX section part: the same blocks as the binary section walk.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "byte_cursor.h"
#include "hwp/error.h"

namespace paravox {

// Reads the section part `xml` and appends the Markdown of its blocks to `markdown` (without
// the final trim), adding their assembled sizes to `output_size`, the running size of the
// document. Fails with a Package error, leaving in `markdown` part of the section's text, when
// the part is not well-formed XML, declares entities or nests too deeply. Throws
// OutputLimitExceeded when the document's Markdown would pass kOutputLimit.
//
// Correspondence with the binary format: each hp:p is a paragraph; the elements of a run other
// than its text (hp:t) and inline marks, and the children of hp:ctrl other than hp:fieldEnd,
// are the paragraph's controls, in order. A click-here hp:fieldBegin attaches to the paragraph
// while no other control came before it; every other control ends the attaching. Tables
// (hp:tbl), equations (hp:equation) and drawing objects (hp:pic, hp:rect, hp:container, ...)
// give blocks after the paragraph's own text; every other control and its contents (section
// and column definitions, headers, footers, notes, fields of other kinds, ...) gives nothing.
Status walk_section_part(Bytes xml, std::string_view part_name, std::string& markdown,
                         std::uint64_t& output_size);

}  // namespace paravox
