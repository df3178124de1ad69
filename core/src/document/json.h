// Writing a document as JSON: the model (document/model.h) with its format, metadata and
// warnings, in the shape schema/document.schema.json describes ("paravox.document",
// version 1).
//
// Every block carries its origin; a block inside a table cell adds the innermost cell's
// address as the file gives it. Tables keep their declared size and their cells as the file
// lists them, empty ones too: placing them is the reader's choice, as it is the Markdown
// writer's. Keys that do not apply are left out. Text is written as UTF-8, with `"`, `\` and
// the control characters escaped (`\u00XX`) and any byte that is not part of well-formed UTF-8
// replaced by U+FFFD, so that every output parses.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "document/model.h"
#include "document/styles.h"
#include "document/warning.h"

namespace paravox {

// The version of the shape written; it grows when a key changes meaning or goes away.
inline constexpr int kDocumentJsonVersion = 1;

// The JSON of `document` read from a document of `format` ("hwp" or "hwpx"). Throws
// OutputLimitExceeded before the text would pass kOutputLimit.
std::string document_json(std::string_view format, const model::Document& document,
                          const Metadata& metadata, std::span<const Warning> warnings);

}  // namespace paravox
