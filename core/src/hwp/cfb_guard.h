// Checks on a compound file's header and directory chain, made before the compound-file
// reader sees the file, because the reader trusts these structures blindly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "base/error.h"

namespace paravox {

// A directory this large is not a document; the reader recurses once per entry.
inline constexpr std::uint32_t kMaxDirectoryEntries = 8192;

// Reads up to `out.size()` bytes at `offset`; fewer only at the end of the file.
using ReadAt =
    std::function<Result<std::size_t>(std::uint64_t offset, std::span<std::uint8_t> out)>;

// Checks, in this order: the file is at least 512 bytes long ("Invalid CFB file (N bytes is
// too small)"); it starts with the compound-file signature ("Invalid CFB file (wrong magic
// number)"); its sectors are 512 or 4096 bytes; and the directory's sector chain, followed
// from the header through the DIFAT and the FAT, stays inside the file, never returns to a
// sector and holds at most kMaxDirectoryEntries entries. Fails with a CompoundFile error (or the
// Io error of a failed read) when one does not hold.
Status check_compound_file(std::uint64_t file_size, const ReadAt& read);

}  // namespace paravox
