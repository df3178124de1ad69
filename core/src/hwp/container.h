// Opening a document: the compound-file container and its FileHeader stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "base/byte_cursor.h"
#include "base/error.h"
#include "base/file_io.h"
#include "base/large_memory.h"

namespace paravox {

// The compound-file container of a document, read from an open file or from memory. Owns
// the file descriptor (if any) and the reader's handles; destroying it closes the file.
// Move-only.
class Container {
 public:
  class Impl;

  Container(Container&&) noexcept;
  Container& operator=(Container&&) noexcept;
  ~Container();

  // Reads the whole stream at the absolute `path` ("/FileHeader", "/BodyText/Section0");
  // names match regardless of letter case, as in the compound-file format. A missing stream
  // (or a storage at `path`) is a CompoundFile error "No such stream: \"<path>\""; a stream
  // whose sectors cannot be read, or that declares more bytes than the file holds, is an Io
  // error.
  Result<ByteBuffer> read_stream(std::string_view path);

  // The same, refusing before reading a stream that declares more than `limit` bytes: a
  // CompoundFile error of cause OverCeiling.
  Result<ByteBuffer> read_stream(std::string_view path, std::size_t limit);

  // The bytes the stream at `path` declares, from the directory, without reading it; nothing
  // when there is no such stream or its entry cannot be read.
  std::optional<std::uint64_t> stream_size(std::string_view path);

  explicit Container(std::unique_ptr<Impl> impl) noexcept;

 private:
  std::unique_ptr<Impl> impl_;
};

// Opens the file at `path` (UTF-8, read-only, close-on-exec) and its container.
// Errors: Io (NUL in the path, open failure) or CompoundFile (not a usable container).
Result<Container> open_container(std::string_view path);

// The same over a file already open for reading, which the Container then owns.
// Errors: Io (fstat failure) or CompoundFile (a directory, or not a usable container).
Result<Container> open_container(FileDescriptor fd);

// The same over a document held in memory, read in place: `memory` must outlive the
// Container. Same checks and messages as for a file of that length.
// Errors: CompoundFile.
Result<Container> open_container(Bytes memory);

// What the FileHeader's property word says of the document.
struct FileHeader {
  std::uint32_t properties = 0;

  // Bit 0: the body sections (and DocInfo) are raw DEFLATE.
  bool compressed() const noexcept { return (properties & 0x1) != 0; }
  // Bit 2: a distribution document, whose text is kept encrypted in ViewText and whose
  // BodyText holds only a placeholder paragraph.
  bool distribution() const noexcept { return (properties & 0x4) != 0; }
};

// Reads and checks "/FileHeader".
// Errors: CompoundFile (cause MissingStream when there is no FileHeader stream), Io,
// InvalidSignature, PasswordProtected (bit 1), Parse("FileHeader too short").
Result<FileHeader> read_file_header(Container& container);

}  // namespace paravox
