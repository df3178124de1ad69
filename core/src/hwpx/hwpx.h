// Converting an HWPX document: a ZIP package of XML parts.
#pragma once

#include "base/byte_cursor.h"
#include "base/error.h"
#include "document/document_builder.h"
#include "document/options.h"
#include "document/warning.h"
#include "hwpx/package.h"

namespace paravox {

// Opens the HWPX package held in `bytes`: a ZIP archive with the application/hwp+zip
// mimetype whose manifest declares no encrypted parts. Every route into an HWPX document
// begins here. Errors: Package (not a readable ZIP archive), NotHwpxPackage (another kind of
// ZIP archive), PasswordProtected.
Result<Package> open_hwpx_package(Bytes bytes);

// Converts the HWPX package held in `package` into the same Markdown of `profile` its binary
// twin gives; the full profile numbers paragraphs by the definitions of header.xml. A section part
// that is missing, cannot be inflated or is not well-formed XML ends the document there, keeping
// the text of the sections before it, with a warning that the text from that part on is missing.
// The full profile writes headers and footers only with `headers_footers`.
Result<DocumentText> hwpx_to_markdown(Bytes package, Profile profile, bool headers_footers = false);

struct PackageContent;

// The full profile's model of the package's sections, read as hwpx_to_markdown reads them
// (same warnings, same errors), its pictures not yet numbered. When `content` is given, it
// receives what content.hpf says besides the sections (read_package_content), from the same
// reading of it.
Result<DocumentModel> read_hwpx_body(const Package& package, PackageContent* content = nullptr);

}  // namespace paravox
