// The conversion of a whole document.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/inflate.h"
#include "base/large_memory.h"
#include "document/block.h"
#include "document/document_builder.h"
#include "document/options.h"
#include "document/styles.h"
#include "document/warning.h"
#include "hwp/container.h"
#include "hwp/records.h"

namespace paravox {

// Walks one section's records and appends its blocks to `blocks`. `output_size` is the
// running number of Markdown bytes of the document so far, to which each new block's
// assembled_size is added; throws OutputLimitExceeded as soon as it would pass kOutputLimit
// (also from field expansion), so a crafted section never collects more than that.
void walk_section(Records records, std::vector<Block>& blocks, std::uint64_t& output_size);

// The same, counting toward the ceiling only the blocks of this section.
void walk_section(Records records, std::vector<Block>& blocks);

// The full profile's walk of one section into `document`, whose section index the caller has
// set; every paragraph is numbered by the document's numbering, from the outline numbering of
// the section's definition. Throws OutputLimitExceeded when the model would pass kOutputLimit
// (HeldSize).
void walk_section(Records records, DocumentBuilder& document);

// A binary document whose container is open and whose FileHeader has been accepted.
struct HwpDocument {
  Container container;
  FileHeader header;
};

// Reads and checks the FileHeader of `container`; an error opening the container passes
// through. Every route into a binary document begins here.
Result<HwpDocument> open_hwp_document(Result<Container> container);

// Reads the section stream at a path ("/BodyText/Section0", ...): its bytes, inflated, or
// the error of reading them (cause MissingStream when there is no such section).
using SectionReader = std::function<Result<Inflated>(const std::string& path)>;

// Converts sections 0, 1, 2, ... as `read_section` gives them, up to the first that is
// missing, and returns the Markdown of `profile`. A section that is there but cannot be read
// or inflated ends the document too, with a warning that the text from it on is missing; a
// section whose compressed data or last record is cut short gives what it holds, with a
// warning that its end is missing. The only error is the output ceiling: Parse "Markdown
// output exceeds 268435456 bytes".
// The full profile numbers paragraphs by `styles` (read_document_styles of the document) and
// writes headers and footers only with `headers_footers`.
Result<DocumentText> convert_sections(const SectionReader& read_section, Profile profile,
                                      const DocumentStyles& styles = {},
                                      bool headers_footers = false);

// The full profile's model of the body sections `read_section` gives, read as
// convert_sections reads them (paragraphs numbered by `styles`), with the same warnings and
// the same only error.
Result<DocumentModel> read_sections(const SectionReader& read_section,
                                    const DocumentStyles& styles = {});

// read_sections over the document's section streams with `styles` (read_document_styles of
// the document): the body's model, its pictures not yet numbered.
Result<DocumentModel> read_body(HwpDocument& document, const DocumentStyles& styles);

// convert_sections over the document's section streams, the full profile with the
// definitions of its DocInfo stream.
Result<DocumentText> convert_body(HwpDocument& document, Profile profile,
                                  bool headers_footers = false);

// Section 0, inflated: the bytes whose records a record listing shows (for_each_record), or
// the error of reading or inflating it.
Result<ByteBuffer> read_first_section(HwpDocument& document);

}  // namespace paravox
