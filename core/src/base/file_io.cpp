#include "base/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>

namespace paravox {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  // close() is not retried on EINTR: on Linux the descriptor is released either way.
  if (fd_ >= 0) ::close(fd_);
}

Result<FileDescriptor> open_read_only(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) {
    return ConvertError::io_text("file name contained an unexpected NUL byte");
  }
  const std::string name(path);
  for (;;) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return FileDescriptor(fd);
    if (errno != EINTR) return ConvertError::io_os(errno);
  }
}

Result<FileInfo> file_info(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return ConvertError::io_os(errno);
  return FileInfo{static_cast<std::uint64_t>(info.st_size), S_ISDIR(info.st_mode),
                  S_ISREG(info.st_mode)};
}

Result<ByteBuffer> read_to_end(int fd, std::uint64_t expected_size, std::uint64_t limit) {
  static constexpr std::size_t kMinimumRoom = 64 * 1024;
  ByteBuffer data;
  // One byte past the expected size, so that reaching the end needs no regrowth.
  data.reserve(static_cast<std::size_t>(std::min(expected_size, limit) + 1));
  for (;;) {
    if (data.spare().empty()) {
      if (data.size() > limit) {
        return ConvertError::io_text("more than " + std::to_string(limit) + " bytes to read");
      }
      data.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(
          data.capacity() + std::max(data.capacity(), kMinimumRoom), limit + 1)));
    }
    const std::span<std::uint8_t> room = data.spare();
    const ssize_t n = ::read(fd, room.data(), room.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return ConvertError::io_os(errno);
    }
    if (n == 0) return data;
    data.commit(static_cast<std::size_t>(n));
  }
}

Result<std::size_t> read_at(int fd, std::uint64_t offset, std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint64_t at = offset + done;
    // pread takes a signed offset; anything past it lies beyond every file.
    if (at > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) break;
    const ssize_t n = ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(at));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ConvertError::io_os(errno);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

Result<const BlockCache::Block*> BlockCache::block(std::uint64_t index) {
  Block* victim = &blocks_[0];
  for (Block& candidate : blocks_) {
    if (candidate.last_use != 0 && candidate.index == index) {
      candidate.last_use = ++clock_;
      return &candidate;
    }
    if (candidate.last_use < victim->last_use) victim = &candidate;
  }
  if (!victim->bytes) victim->bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize);
  victim->last_use = 0;
  auto got = read_at(fd_, index * kBlockSize, std::span(victim->bytes.get(), kBlockSize));
  if (!got) return std::move(got).error();
  victim->index = index;
  victim->size = *got;
  victim->last_use = ++clock_;
  return victim;
}

Result<std::size_t> BlockCache::read(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (out.size() >= kBlockSize) return read_at(fd_, offset, out);
  std::size_t done = 0;
  while (done < out.size()) {
    const std::uint64_t at = offset + done;
    auto cached = block(at / kBlockSize);
    if (!cached) return std::move(cached).error();
    const Block& found = **cached;
    const std::size_t within = static_cast<std::size_t>(at % kBlockSize);
    if (within >= found.size) break;
    const std::size_t n = std::min(found.size - within, out.size() - done);
    std::copy_n(found.bytes.get() + within, n, out.data() + done);
    done += n;
    if (found.size < kBlockSize) break;
  }
  return done;
}

}  // namespace paravox
