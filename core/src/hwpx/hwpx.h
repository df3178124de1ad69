// Converting an HWPX document: a ZIP package of XML parts.
#pragma once

#include <string>

#include "base/byte_cursor.h"
#include "base/error.h"

namespace paravox {

// Converts the HWPX package held in `package` into the same Markdown its binary twin gives.
// A section part that is missing, cannot be inflated or is not well-formed XML ends the
// document there, keeping the text of the sections before it.
Result<std::string> hwpx_to_markdown(Bytes package);

}  // namespace paravox
