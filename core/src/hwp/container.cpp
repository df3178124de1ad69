#include "hwp/container.h"

#include <libbfio.h>
#include <libolecf.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "base/byte_cursor.h"
#include "base/file_io.h"
#include "hwp/cfb_guard.h"

namespace paravox {
namespace {

// The text an operating-system error shows after a message prefix, e.g.
// "Input/output error (os error 5)".
std::string os_error_text(int os_error) {
  static constexpr std::string_view kPrefix = "IO error: ";
  const std::string message = ConvertError::io_os(os_error).message();
  return message.substr(kPrefix.size());
}

// The first line of libolecf's error backtrace (the failure where it started) without
// its "function_name: " prefix.
std::string innermost_message(libolecf_error_t* error) {
  if (error == nullptr) return "unknown compound file error";
  std::string text;
  // The backtrace printer fails rather than truncate when the buffer is too small.
  for (std::size_t size = 1024; size <= (std::size_t{1} << 20); size *= 4) {
    std::string buffer(size, '\0');
    if (libolecf_error_backtrace_sprint(error, buffer.data(), buffer.size()) >= 0) {
      text = buffer.c_str();
      break;
    }
  }
  text = text.substr(0, text.find('\n'));
  const std::size_t colon = text.find(": ");
  if (colon != std::string::npos &&
      text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") ==
          colon) {
    text.erase(0, colon + 2);
  }
  if (text.empty()) return "unknown compound file error";
  return text;
}

// Owns a libolecf error object, freeing it on scope exit.
class OlecfError {
 public:
  OlecfError() = default;
  OlecfError(const OlecfError&) = delete;
  OlecfError& operator=(const OlecfError&) = delete;
  ~OlecfError() { libolecf_error_free(&error_); }

  libolecf_error_t** out() noexcept { return &error_; }
  std::string message() const { return innermost_message(error_); }

 private:
  libolecf_error_t* error_ = nullptr;
};

// Owns a libolecf item, freeing it on scope exit.
class OlecfItem {
 public:
  OlecfItem() = default;
  OlecfItem(OlecfItem&& other) noexcept : item_(std::exchange(other.item_, nullptr)) {}
  OlecfItem& operator=(OlecfItem&& other) noexcept {
    std::swap(item_, other.item_);
    return *this;
  }
  OlecfItem(const OlecfItem&) = delete;
  OlecfItem& operator=(const OlecfItem&) = delete;
  ~OlecfItem() {
    if (item_ != nullptr) libolecf_item_free(&item_, nullptr);
  }

  libolecf_item_t* get() const noexcept { return item_; }
  libolecf_item_t** out() noexcept { return &item_; }
  explicit operator bool() const noexcept { return item_ != nullptr; }

 private:
  libolecf_item_t* item_ = nullptr;
};

// CFB names compare without regard to case. Only ASCII letters are folded: the names
// this program looks up are ASCII.
bool same_name_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// The state behind the libbfio handle: positioned reads from the Container's source, either
// the block cache of its descriptor or the bytes it was given. The handle's open and close
// only flip `open`; the source stays the Container's.
struct SourceIo {
  BlockCache* cache = nullptr;  // null when reading from `memory`
  Bytes memory;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;
  bool open = false;
  int last_os_error = 0;  // errno of the last failed read, 0 when none

  // As BlockCache::read: up to `out.size()` bytes at `at`, fewer only at the end.
  Result<std::size_t> read(std::uint64_t at, std::span<std::uint8_t> out) const {
    if (cache != nullptr) return cache->read(at, out);
    if (at >= memory.size()) return std::size_t{0};
    const std::size_t count = std::min<std::uint64_t>(out.size(), memory.size() - at);
    std::memcpy(out.data(), memory.data() + at, count);
    return count;
  }
};

SourceIo* as_io(intptr_t* io_handle) {
  return reinterpret_cast<SourceIo*>(io_handle);
}

int io_free(intptr_t** io_handle, libbfio_error_t** /*error*/) {
  if (io_handle == nullptr) return -1;
  delete as_io(*io_handle);
  *io_handle = nullptr;
  return 1;
}

int io_clone(intptr_t** destination, intptr_t* source, libbfio_error_t** /*error*/) {
  if (destination == nullptr || source == nullptr) return -1;
  auto* copy = new (std::nothrow) SourceIo(*as_io(source));
  if (copy == nullptr) return -1;
  copy->open = false;
  *destination = reinterpret_cast<intptr_t*>(copy);
  return 1;
}

int io_open(intptr_t* io_handle, int /*access_flags*/, libbfio_error_t** /*error*/) {
  as_io(io_handle)->open = true;
  return 1;
}

int io_close(intptr_t* io_handle, libbfio_error_t** /*error*/) {
  as_io(io_handle)->open = false;
  return 0;
}

ssize_t io_read(intptr_t* io_handle, uint8_t* buffer, size_t size, libbfio_error_t** /*error*/) {
  SourceIo& io = *as_io(io_handle);
  const std::size_t wanted = std::min<std::size_t>(size, std::numeric_limits<ssize_t>::max());
  auto got = io.read(io.offset, std::span<std::uint8_t>(buffer, wanted));
  if (!got) {
    io.last_os_error = got.error().os_error();
    return -1;
  }
  io.offset += *got;
  return static_cast<ssize_t>(*got);
}

ssize_t io_write(intptr_t*, const uint8_t*, size_t, libbfio_error_t**) {
  return -1;
}

off64_t io_seek(intptr_t* io_handle, off64_t offset, int whence, libbfio_error_t** /*error*/) {
  SourceIo& io = *as_io(io_handle);
  std::int64_t base = 0;
  if (whence == SEEK_CUR) {
    base = static_cast<std::int64_t>(io.offset);
  } else if (whence == SEEK_END) {
    base = static_cast<std::int64_t>(io.size);
  } else if (whence != SEEK_SET) {
    return -1;
  }
  if ((offset < 0 && -offset > base) ||
      (offset > 0 && offset > std::numeric_limits<std::int64_t>::max() - base)) {
    return -1;
  }
  io.offset = static_cast<std::uint64_t>(base + offset);
  return static_cast<off64_t>(io.offset);
}

int io_exists(intptr_t* /*io_handle*/, libbfio_error_t** /*error*/) {
  return 1;
}

int io_is_open(intptr_t* io_handle, libbfio_error_t** /*error*/) {
  return as_io(io_handle)->open ? 1 : 0;
}

int io_get_size(intptr_t* io_handle, size64_t* size, libbfio_error_t** /*error*/) {
  if (size == nullptr) return -1;
  *size = as_io(io_handle)->size;
  return 1;
}

}  // namespace

class Container::Impl {
 public:
  Impl(FileDescriptor fd, std::uint64_t size) : fd_(std::move(fd)), cache_(fd_.get()) {
    io_.cache = &cache_;
    io_.size = size;
  }
  // Reads from `memory`, which must outlive the Impl.
  explicit Impl(Bytes memory) : cache_(-1) {
    io_.memory = memory;
    io_.size = memory.size();
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  ~Impl() {
    if (file_ != nullptr) {
      if (file_open_) libolecf_file_close(file_, nullptr);
      libolecf_file_free(&file_, nullptr);
    }
    if (handle_ != nullptr) libbfio_handle_free(&handle_, nullptr);
  }

  // Checks the container's layout before libolecf trusts it. Errors: CompoundFile.
  Status check() {
    const ReadAt read = [this](std::uint64_t offset, std::span<std::uint8_t> out) {
      return io_.read(offset, out);
    };
    Status status = check_compound_file(io_.size, read);
    if (!status.ok() && status.error().kind() == ErrorKind::Io) {
      // A failed read while opening is the container's failure, told in the system's words.
      const ConvertError& damage = status.error();
      return ConvertError::compound_file(damage.os_error() != 0 ? os_error_text(damage.os_error())
                                                                : damage.text());
    }
    return status;
  }

  // Opens libolecf over the source. Errors: CompoundFile.
  Status open() {
    libbfio_error_t* bfio_error = nullptr;
    if (libbfio_handle_initialize(&handle_, reinterpret_cast<intptr_t*>(&io_), io_free, io_clone,
                                  io_open, io_close, io_read, io_write, io_seek, io_exists,
                                  io_is_open, io_get_size, LIBBFIO_FLAG_IO_HANDLE_NON_MANAGED,
                                  &bfio_error) != 1) {
      libbfio_error_free(&bfio_error);
      handle_ = nullptr;
      return ConvertError::compound_file("cannot create the file reader");
    }
    OlecfError error;
    if (libolecf_file_initialize(&file_, error.out()) != 1) {
      file_ = nullptr;
      return ConvertError::compound_file(error.message());
    }
    io_.last_os_error = 0;
    if (libolecf_file_open_file_io_handle(file_, handle_, LIBOLECF_OPEN_READ, error.out()) != 1) {
      if (io_.last_os_error != 0) {
        return ConvertError::compound_file(os_error_text(io_.last_os_error));
      }
      return ConvertError::compound_file(error.message());
    }
    file_open_ = true;
    return {};
  }

  std::optional<std::uint64_t> stream_size(std::string_view path) {
    auto item = find_stream(path);
    if (!item || !*item) return std::nullopt;
    OlecfError error;
    std::uint32_t declared = 0;
    if (libolecf_item_get_size(item->get(), &declared, error.out()) != 1) return std::nullopt;
    return declared;
  }

  Result<ByteBuffer> read_stream(std::string_view path, std::size_t limit) {
    auto item = find_stream(path);
    if (!item) return std::move(item).error();
    if (!*item) {
      return ConvertError::compound_file("No such stream: \"" + std::string(path) + "\"",
                                         ErrorCause::MissingStream);
    }
    OlecfError error;
    std::uint32_t declared = 0;
    if (libolecf_item_get_size(item->get(), &declared, error.out()) != 1) {
      return ConvertError::io_text(error.message());
    }
    if (declared > limit) {
      return ConvertError::compound_file("stream \"" + std::string(path) + "\" declares " +
                                             std::to_string(declared) + " bytes, more than " +
                                             std::to_string(limit),
                                         ErrorCause::OverCeiling);
    }
    // Every byte of a stream lies in some sector of the file.
    if (declared > io_.size) {
      return ConvertError::io_text("stream \"" + std::string(path) + "\" declares " +
                                   std::to_string(declared) + " bytes, more than the " +
                                   std::to_string(io_.size) + " bytes of the file");
    }
    ByteBuffer data;
    data.reserve(declared);
    while (!data.spare().empty()) {
      io_.last_os_error = 0;
      const std::span<std::uint8_t> room = data.spare();
      const ssize_t n =
          libolecf_stream_read_buffer(item->get(), room.data(), room.size(), error.out());
      if (n < 0) {
        if (io_.last_os_error != 0) return ConvertError::io_os(io_.last_os_error);
        return ConvertError::io_text(error.message());
      }
      if (n == 0) break;
      data.commit(static_cast<std::size_t>(n));
    }
    return data;
  }

 private:
  // The stream at the absolute `path`, or an empty item when there is none (or the path
  // names a storage). Errors: CompoundFile with the reader's text.
  Result<OlecfItem> find_stream(std::string_view path) {
    OlecfError error;
    OlecfItem item;
    const int found = libolecf_file_get_root_item(file_, item.out(), error.out());
    if (found < 0) return ConvertError::compound_file(error.message());
    if (found == 0 || path.empty() || path.front() != '/') return OlecfItem();
    std::string_view rest = path.substr(1);
    for (;;) {
      const std::size_t slash = rest.find('/');
      const std::string_view name = rest.substr(0, slash);
      if (name.empty()) return OlecfItem();
      auto child = find_child(item, name);
      if (!child) return std::move(child).error();
      if (!*child) return OlecfItem();
      item = std::move(*child);
      if (slash == std::string_view::npos) break;
      rest = rest.substr(slash + 1);
    }
    std::uint8_t type = 0;
    if (libolecf_item_get_type(item.get(), &type, error.out()) != 1) {
      return ConvertError::compound_file(error.message());
    }
    if (type != LIBOLECF_ITEM_TYPE_STREAM) return OlecfItem();
    return item;
  }

  // The child of `parent` called `name`: an exact match as libolecf finds it, else the
  // first child whose name differs only in letter case.
  Result<OlecfItem> find_child(const OlecfItem& parent, std::string_view name) {
    OlecfError error;
    OlecfItem child;
    const int found = libolecf_item_get_sub_item_by_utf8_name(
        parent.get(), reinterpret_cast<const std::uint8_t*>(name.data()), name.size(), child.out(),
        error.out());
    if (found < 0) return ConvertError::compound_file(error.message());
    if (found == 1) return child;

    int count = 0;
    if (libolecf_item_get_number_of_sub_items(parent.get(), &count, error.out()) != 1) {
      return ConvertError::compound_file(error.message());
    }
    std::string child_name;
    for (int index = 0; index < count; ++index) {
      OlecfItem candidate;
      std::size_t name_size = 0;
      if (libolecf_item_get_sub_item(parent.get(), index, candidate.out(), error.out()) != 1 ||
          libolecf_item_get_utf8_name_size(candidate.get(), &name_size, error.out()) != 1) {
        return ConvertError::compound_file(error.message());
      }
      // The size counts the terminating NUL.
      if (name_size != name.size() + 1) continue;
      child_name.assign(name_size, '\0');
      if (libolecf_item_get_utf8_name(candidate.get(),
                                      reinterpret_cast<std::uint8_t*>(child_name.data()),
                                      child_name.size(), error.out()) != 1) {
        return ConvertError::compound_file(error.message());
      }
      child_name.pop_back();
      if (same_name_ignoring_case(child_name, name)) return candidate;
    }
    return OlecfItem();
  }

  // Declared first so that it is closed last, after libolecf let go of it. Without a
  // descriptor (a container over memory) the cache is never used.
  FileDescriptor fd_;
  BlockCache cache_;
  SourceIo io_;
  libbfio_handle_t* handle_ = nullptr;
  libolecf_file_t* file_ = nullptr;
  bool file_open_ = false;
};

Container::Container(std::unique_ptr<Impl> impl) noexcept : impl_(std::move(impl)) {}
Container::Container(Container&&) noexcept = default;
Container& Container::operator=(Container&&) noexcept = default;
Container::~Container() = default;

Result<ByteBuffer> Container::read_stream(std::string_view path) {
  return impl_->read_stream(path, std::numeric_limits<std::size_t>::max());
}

Result<ByteBuffer> Container::read_stream(std::string_view path, std::size_t limit) {
  return impl_->read_stream(path, limit);
}

std::optional<std::uint64_t> Container::stream_size(std::string_view path) {
  return impl_->stream_size(path);
}

namespace {

Result<Container> open_over(std::unique_ptr<Container::Impl> impl) {
  if (Status checked = impl->check(); !checked) return std::move(checked).error();
  if (Status opened = impl->open(); !opened) return std::move(opened).error();
  return Container(std::move(impl));
}

}  // namespace

Result<Container> open_container(std::string_view path) {
  auto fd = open_read_only(path);
  if (!fd) return std::move(fd).error();
  return open_container(std::move(*fd));
}

Result<Container> open_container(FileDescriptor fd) {
  auto info = file_info(fd.get());
  if (!info) return std::move(info).error();
  // Reading a directory fails with EISDIR; say so before its size is taken for a length.
  if (info->is_directory) return ConvertError::compound_file(os_error_text(EISDIR));
  return open_over(std::make_unique<Container::Impl>(std::move(fd), info->size));
}

Result<Container> open_container(Bytes memory) {
  return open_over(std::make_unique<Container::Impl>(memory));
}

Result<FileHeader> read_file_header(Container& container) {
  static constexpr std::string_view kSignature = "HWP Document File";
  static constexpr std::size_t kPropertiesOffset = 36;
  static constexpr std::size_t kMinimumSize = 40;

  auto header = container.read_stream("/FileHeader");
  if (!header) {
    ConvertError error = std::move(header).error();
    // A compound file without this stream is some other program's (a DOC, an XLS, a MSG).
    if (error.cause() == ErrorCause::MissingStream) {
      return ConvertError::compound_file(error.text(), ErrorCause::NotThisFormat);
    }
    return error;
  }
  const Bytes bytes(*header);
  if (bytes.size() < kSignature.size()) return ConvertError::invalid_signature();
  for (std::size_t i = 0; i < kSignature.size(); ++i) {
    if (bytes[i] != static_cast<std::uint8_t>(kSignature[i])) {
      return ConvertError::invalid_signature();
    }
  }
  if (bytes.size() < kMinimumSize) return ConvertError::parse("FileHeader too short");
  const std::uint32_t properties = *u32_at(bytes, kPropertiesOffset);
  if ((properties & 0x2) != 0) return ConvertError::password_protected();
  return FileHeader{properties};
}

}  // namespace paravox
