#include "hwpx/package.h"

#include <unzip.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/inflate.h"

namespace paravox {
namespace {

constexpr int kStored = 0;
constexpr int kDeflated = Z_DEFLATED;
constexpr uLong kEncryptedFlag = 1;

// The archive bytes as minizip's file: reads are bounds-checked copies out of the span.
struct MemoryFile {
  Bytes bytes;
  std::uint64_t position = 0;
};

voidpf open_file(voidpf opaque, const void*, int) {
  static_cast<MemoryFile*>(opaque)->position = 0;
  return opaque;
}

uLong read_file(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* file = static_cast<MemoryFile*>(stream);
  if (file->position >= file->bytes.size()) return 0;
  const std::size_t n =
      static_cast<std::size_t>(std::min<std::uint64_t>(size, file->bytes.size() - file->position));
  std::memcpy(buffer, file->bytes.data() + file->position, n);
  file->position += n;
  return static_cast<uLong>(n);
}

uLong write_file(voidpf, voidpf, const void*, uLong) {
  return 0;
}

ZPOS64_T tell_file(voidpf, voidpf stream) {
  return static_cast<MemoryFile*>(stream)->position;
}

long seek_file(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* file = static_cast<MemoryFile*>(stream);
  std::uint64_t base = 0;
  if (origin == ZLIB_FILEFUNC_SEEK_CUR) base = file->position;
  if (origin == ZLIB_FILEFUNC_SEEK_END) base = file->bytes.size();
  if (base > file->bytes.size() || offset > file->bytes.size() - base) return -1;
  file->position = base + offset;
  return 0;
}

int close_file(voidpf, voidpf) {
  return 0;
}
int error_file(voidpf, voidpf) {
  return 0;
}

std::string normalise_name(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

struct Range {
  std::uint64_t begin;
  std::uint64_t end;
};

}  // namespace

struct Package::Archive {
  struct Entry {
    std::uint64_t data_offset = 0;
    std::uint64_t compressed_size = 0;
    int method = -1;  // -1 when the local header cannot be read
    bool encrypted = false;
  };

  explicit Archive(Bytes bytes) : file{bytes, 0} {}
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;
  ~Archive() {
    if (zip) unzClose(zip);
  }

  MemoryFile file;
  unzFile zip = nullptr;
  std::unordered_map<std::string, Entry> entries;
};

Package::Package(std::unique_ptr<Archive> archive) : archive_(std::move(archive)) {}
Package::Package(Package&&) noexcept = default;
Package& Package::operator=(Package&&) noexcept = default;
Package::~Package() = default;

Result<Package> Package::open(Bytes bytes) {
  auto archive = std::make_unique<Archive>(bytes);
  zlib_filefunc64_def functions{};
  functions.zopen64_file = open_file;
  functions.zread_file = read_file;
  functions.zwrite_file = write_file;
  functions.ztell64_file = tell_file;
  functions.zseek64_file = seek_file;
  functions.zclose_file = close_file;
  functions.zerror_file = error_file;
  functions.opaque = &archive->file;
  archive->zip = unzOpen2_64("", &functions);
  unzFile zip = archive->zip;
  if (!zip) return ConvertError::package("not a ZIP archive (no readable central directory)");

  unz_global_info64 global{};
  if (unzGetGlobalInfo64(zip, &global) != UNZ_OK) {
    return ConvertError::package("not a ZIP archive (no readable central directory)");
  }
  if (global.number_entry > kMaxPackageEntries) {
    return ConvertError::package("more than " + std::to_string(kMaxPackageEntries) + " entries");
  }

  std::vector<Range> ranges;
  std::size_t count = 0;
  int status = unzGoToFirstFile(zip);
  for (; status == UNZ_OK; status = unzGoToNextFile(zip)) {
    if (++count > kMaxPackageEntries) {
      return ConvertError::package("more than " + std::to_string(kMaxPackageEntries) + " entries");
    }
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) break;
    std::string name(info.size_filename + 1, '\0');
    unzGetCurrentFileInfo64(zip, nullptr, name.data(), static_cast<uLong>(name.size()), nullptr, 0,
                            nullptr, 0);
    name.resize(info.size_filename);

    Archive::Entry entry;
    entry.compressed_size = info.compressed_size;
    entry.encrypted = (info.flag & kEncryptedFlag) != 0;
    // Opened raw, an entry only has its local header read: where its data start.
    int method = 0;
    int level = 0;
    if (unzOpenCurrentFile2(zip, &method, &level, 1) == UNZ_OK) {
      entry.method = method;
      entry.data_offset = unzGetCurrentFileZStreamPos64(zip);
      unzCloseCurrentFile(zip);
      if (entry.data_offset > bytes.size() ||
          entry.compressed_size > bytes.size() - entry.data_offset) {
        entry.method = -1;
      } else if (entry.compressed_size > 0) {
        ranges.push_back({entry.data_offset, entry.data_offset + entry.compressed_size});
      }
    }
    // The first of two entries with one name is the one read.
    archive->entries.try_emplace(normalise_name(std::move(name)), entry);
  }
  if (status != UNZ_END_OF_LIST_OF_FILE) {
    return ConvertError::package("the central directory is damaged");
  }

  // Entries that share data would let a small archive inflate without end.
  std::sort(ranges.begin(), ranges.end(),
            [](const Range& a, const Range& b) { return a.begin < b.begin; });
  for (std::size_t i = 1; i < ranges.size(); ++i) {
    if (ranges[i].begin < ranges[i - 1].end) return ConvertError::package("entries overlap");
  }
  return Package(std::move(archive));
}

bool Package::contains(std::string_view name) const {
  return archive_->entries.find(std::string(name)) != archive_->entries.end();
}

Result<Part> Package::read(std::string_view name) const {
  const auto found = archive_->entries.find(std::string(name));
  if (found == archive_->entries.end()) {
    return ConvertError::package(std::string(name) + " is missing");
  }
  const Archive::Entry& entry = found->second;
  if (entry.encrypted) return ConvertError::package(std::string(name) + " is encrypted");
  if (entry.method == -1) return ConvertError::package(std::string(name) + " is damaged");
  const Bytes data = archive_->file.bytes.subspan(entry.data_offset, entry.compressed_size);
  Part part;
  if (entry.method == kStored) {
    part.bytes = data;
  } else if (entry.method == kDeflated) {
    Result<ByteBuffer> inflated = inflate_raw(data);
    if (!inflated) return std::move(inflated).error();
    part.inflated = std::move(inflated.value());
    part.bytes = part.inflated.bytes();
  } else {
    return ConvertError::package(std::string(name) +
                                 " uses a compression method other than DEFLATE");
  }
  return part;
}

}  // namespace paravox
