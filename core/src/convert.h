// The front door: a document given by path or in memory, its format recognised from its
// first bytes (a compound file goes to the binary reader, a ZIP package to the HWPX reader),
// converted into Markdown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "byte_cursor.h"

namespace paravox {

enum class DocumentFormat : std::uint8_t { None, Hwp, Hwpx };

// "hwp", "hwpx", or "" for None.
std::string_view format_name(DocumentFormat format);

// What kind of failure ended a conversion; each kind is a distinct exception class in Python.
enum class FailureKind : std::uint8_t {
  Io,                 // the file cannot be read
  NotADocument,       // the input is not an HWP or HWPX document
  Damaged,            // a damaged container or package
  PasswordProtected,  // the document is encrypted
  TooLarge            // the output or an inflated part would pass kOutputLimit
};

struct Failure {
  FailureKind kind;
  std::string message;  // one line, e.g. "Not an HWP or HWPX document: a PDF document"
};

// The outcome of one conversion. `format` names the reader the input went to, also on
// failure; it is None when the input was not recognised as either format.
struct Conversion {
  DocumentFormat format = DocumentFormat::None;
  std::string markdown;            // empty on failure
  std::optional<Failure> failure;  // nothing on success

  bool ok() const noexcept { return !failure.has_value(); }
};

// Converts the document at `path` (a file-system name, any bytes but NUL). The file is
// opened once: a compound file is read in place through a block cache, any other input is
// read into memory. A compound file gives the same markdown and messages as
// hwp_to_markdown(path).
Conversion convert_path(std::string_view path);

// Converts the document held in `document`, read in place. The same bytes give the same
// Conversion as convert_path on a file holding them, except that no I/O failure can occur.
Conversion convert_bytes(Bytes document);

}  // namespace paravox
