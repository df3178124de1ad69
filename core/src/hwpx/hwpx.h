// Converting an HWPX document: a ZIP package of XML parts.
#pragma once

#include "base/byte_cursor.h"
#include "base/error.h"
#include "document/options.h"
#include "document/warning.h"

namespace paravox {

// Converts the HWPX package held in `package` into the same Markdown of `profile` its binary
// twin gives. A section part that is missing, cannot be inflated or is not well-formed XML
// ends the document there, keeping the text of the sections before it, with a warning that
// the text from that part on is missing.
Result<DocumentText> hwpx_to_markdown(Bytes package, Profile profile);

}  // namespace paravox
