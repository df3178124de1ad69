// The summary information of a binary document: title, author, times and the rest.
#pragma once

#include "base/byte_cursor.h"
#include "document/styles.h"
#include "hwp/container.h"

namespace paravox {

// The metadata an OLE property set (the "\005HwpSummaryInformation" stream) holds in its
// first section, its strings without surrounding white space. Never fails: a count, offset or
// value that does not fit the bytes leaves that value absent, and a damaged header all of
// them.
Metadata read_summary_information(Bytes stream);

// Reads the document's summary-information stream; a stream that is missing or cannot be
// read gives no metadata.
Metadata read_metadata(Container& container);

}  // namespace paravox
