// Telling what an input is from its bytes: a document paravox reads, or what else it
// appears to be, so that a user handed a PDF or a DOCX is told so.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_cursor.h"

namespace paravox {

// The most bytes at the start of an input that recognise() looks at. A caller reading a
// file gives it this many (or the whole file when shorter), so that a file and the same
// bytes in memory are judged alike.
inline constexpr std::size_t kHeadSize = 64 * 1024;

enum class InputKind : std::uint8_t {
  Empty,
  CompoundFile,  // the compound-file signature: the binary reader's input
  Zip,           // a ZIP local file header: the HWPX reader's input
  Pdf,
  Hwp3,        // "HWP Document File V3.00", the format before 5.0
  Hwpml,       // an XML document whose root element is HWPML
  MarkAnyDrm,  // a document wrapped by the MarkAny Document SAFER DRM client
  PlainText,   // UTF-8, or UTF-16 with a byte-order mark, free of NULs and binary controls
  Unrecognised
};

// What the input appears to be. `head` is its first min(size, kHeadSize) bytes and `size`
// its whole length (the head may be longer; only kHeadSize bytes are looked at).
InputKind recognise(Bytes head, std::uint64_t size);

}  // namespace paravox
