// The streams under /BinData: the bytes of a binary document's embedded items.
#pragma once

#include "base/error.h"
#include "base/large_memory.h"
#include "document/styles.h"
#include "hwp/container.h"

namespace paravox {

// The bytes of the embedded item `item` (read_docinfo), from its /BinData stream, inflated as
// raw DEFLATE when the item says it is compressed, or says nothing and the document's
// FileHeader says the document is (`document_compressed`). Errors: CompoundFile for an item
// without a stream (a link) or a missing one; those of Container::read_stream; Parse for data
// that do not inflate or end before their last block; cause OverCeiling when the stored or the
// inflated bytes would pass kPictureLimit.
Result<ByteBuffer> read_binary_item(Container& container, const BinaryDataItem& item,
                                    bool document_compressed);

}  // namespace paravox
