#include "hwp/bin_data.h"

#include <string>
#include <utility>

#include "base/inflate.h"
#include "document/pictures.h"

namespace paravox {

Result<ByteBuffer> read_binary_item(Container& container, const BinaryDataItem& item,
                                    bool document_compressed) {
  if (item.kind == BinaryDataKind::Link || item.path.empty()) {
    return ConvertError::compound_file(
        "binary data item " + std::to_string(item.id) + " is not kept in the document",
        ErrorCause::MissingStream);
  }
  Result<ByteBuffer> stored = container.read_stream(item.path, kPictureLimit);
  if (!stored) return std::move(stored).error();
  const bool compressed =
      item.compression == BinaryDataCompression::Compressed ||
      (item.compression == BinaryDataCompression::AsDocument && document_compressed);
  if (!compressed) return stored;
  // The inflater's own ceiling is the picture's, and its buffer grows with the output.
  static_assert(kPictureLimit == kOutputLimit);
  Result<Inflated> inflated = inflate_raw_stream(stored.value());
  if (!inflated) return std::move(inflated).error();
  if (!inflated->ended) {
    return ConvertError::parse(item.path + ": its compressed data ends before the last block");
  }
  return std::move(inflated->bytes);
}

}  // namespace paravox
