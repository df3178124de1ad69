// A read-only file descriptor and positioned reads from it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "base/error.h"
#include "base/large_memory.h"

namespace paravox {

// Owns one open file descriptor and closes it on destruction. Move-only.
class FileDescriptor {
 public:
  FileDescriptor() noexcept = default;
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  int get() const noexcept { return fd_; }
  int release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// Opens `path` read-only and close-on-exec, retrying when a signal interrupts the open.
// Errors: Io "file name contained an unexpected NUL byte", or Io carrying the open's errno.
Result<FileDescriptor> open_read_only(std::string_view path);

// What fstat tells of an open file.
struct FileInfo {
  std::uint64_t size = 0;
  bool is_directory = false;
  bool is_regular = false;  // a regular file, whose size is its length
};

// Errors: Io carrying fstat's errno.
Result<FileInfo> file_info(int fd);

// Reads from the descriptor's current position to the end of the file (a regular file, a
// pipe or a device), starting with room for `expected_size` bytes.
// Errors: Io carrying read's errno; Io "more than N bytes to read" once `limit` bytes were
// read and more remain (a device such as /dev/zero never ends).
Result<ByteBuffer> read_to_end(int fd, std::uint64_t expected_size, std::uint64_t limit);

// Reads up to `out.size()` bytes at `offset` with pread, retrying on EINTR and after short
// reads. Returns the count read, fewer than asked only at the end of the file.
// Errors: Io carrying pread's errno.
Result<std::size_t> read_at(int fd, std::uint64_t offset, std::span<std::uint8_t> out);

// Positioned reads from a descriptor (not owned) through a few cached aligned blocks. The
// compound-file reader reads 64-byte mini sectors and 4-byte table entries one at a time;
// the cache turns those into one system call per block while holding at most
// kBlocks * kBlockSize bytes, whatever the file's size. Reads of a block or more bypass it.
class BlockCache {
 public:
  static constexpr std::size_t kBlockSize = 32 * 1024;
  static constexpr std::size_t kBlocks = 4;

  explicit BlockCache(int fd) noexcept : fd_(fd) {}

  // As read_at: up to `out.size()` bytes at `offset`, fewer only at the end of the file.
  Result<std::size_t> read(std::uint64_t offset, std::span<std::uint8_t> out);

 private:
  struct Block {
    std::uint64_t index = 0;
    std::size_t size = 0;        // bytes present; less than kBlockSize only at the end of the file
    std::uint64_t last_use = 0;  // 0 while the block holds nothing
    std::unique_ptr<std::uint8_t[]> bytes;
  };

  // The cached block `index`, read now if it is not cached.
  Result<const Block*> block(std::uint64_t index);

  int fd_;
  std::uint64_t clock_ = 0;
  std::array<Block, kBlocks> blocks_;
};

}  // namespace paravox
