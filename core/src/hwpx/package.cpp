#include "hwpx/package.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/crc32.h"
#include "base/inflate.h"

namespace paravox {
namespace {

constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kLargestComment = 0xFFFF;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint32_t kStored = 0;
constexpr std::uint32_t kDeflated = 8;
constexpr std::uint16_t kEncryptedFlag = 1;

std::optional<std::uint64_t> u64_at(Bytes b, std::size_t offset) {
  const auto low = u32_at(b, offset);
  const auto high = offset <= b.size() ? u32_at(b, offset + 4) : std::nullopt;
  if (!low || !high) return std::nullopt;
  return *low | (std::uint64_t{*high} << 32);
}

// `n` bytes at `offset`, or nothing when they are not all there.
std::optional<Bytes> bytes_at(Bytes b, std::uint64_t offset, std::uint64_t n) {
  if (offset > b.size() || n > b.size() - offset) return std::nullopt;
  return b.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(n));
}

std::string normalise_name(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

struct Range {
  std::uint64_t begin;
  std::uint64_t end;
};

// Where the central directory is and how many entries it lists, from the end record (and
// the ZIP64 end record it points to, when there is one).
struct Directory {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint64_t entries = 0;
  // Bytes before the archive proper (a self-extracting stub): every offset is shifted.
  std::uint64_t shift = 0;
};

ConvertError not_a_zip() {
  return ConvertError::package("not a ZIP archive (no readable central directory)");
}

// Where the end record starts: the last of its signature in the final 64 KiB (its comment)
// and 22 bytes. Most archives have no comment, so that one place is tried first; otherwise
// find (memchr) jumps from one 'P' to the next, so that a file that is no archive is not
// searched byte by byte through 64 KiB.
std::optional<std::size_t> find_end_record(Bytes bytes) {
  const std::size_t last = bytes.size() - kEndSize;
  if (u32_at(bytes, last) == kEndSignature) return last;
  const std::size_t lowest = last > kLargestComment ? last - kLargestComment : 0;
  const Bytes tail = bytes.subspan(lowest, last - lowest);
  const std::string_view window(reinterpret_cast<const char*>(tail.data()), tail.size());
  std::optional<std::size_t> found;
  for (std::size_t at = window.find('P'); at != std::string_view::npos;
       at = window.find('P', at + 1)) {
    if (u32_at(bytes, lowest + at) == kEndSignature) found = lowest + at;
  }
  return found;
}

Result<Directory> find_directory(Bytes bytes) {
  if (bytes.size() < kEndSize) return not_a_zip();
  const std::optional<std::size_t> found = find_end_record(bytes);
  if (!found) return not_a_zip();
  const std::size_t end = *found;
  const std::uint16_t disk = *u16_at(bytes, end + 4);
  const std::uint16_t directory_disk = *u16_at(bytes, end + 6);
  const std::uint16_t entries_here = *u16_at(bytes, end + 8);
  Directory directory;
  directory.entries = *u16_at(bytes, end + 10);
  directory.size = *u32_at(bytes, end + 12);
  directory.offset = *u32_at(bytes, end + 16);
  if (disk != 0 || directory_disk != 0 || entries_here != directory.entries) return not_a_zip();
  std::uint64_t directory_end = end;

  if (end >= kZip64LocatorSize &&
      u32_at(bytes, end - kZip64LocatorSize) == kZip64LocatorSignature) {
    const std::uint64_t record = *u64_at(bytes, end - kZip64LocatorSize + 8);
    const auto zip64 = bytes_at(bytes, record, kZip64EndSize);
    if (!zip64 || u32_at(*zip64, 0) != kZip64EndSignature) return not_a_zip();
    if (*u32_at(*zip64, 16) != 0 || *u32_at(*zip64, 20) != 0 ||
        *u64_at(*zip64, 24) != *u64_at(*zip64, 32)) {
      return not_a_zip();
    }
    directory.entries = *u64_at(*zip64, 32);
    directory.size = *u64_at(*zip64, 40);
    directory.offset = *u64_at(*zip64, 48);
    directory_end = record;
  }
  if (directory.offset > directory_end || directory.size > directory_end - directory.offset) {
    return not_a_zip();
  }
  directory.shift = directory_end - (directory.offset + directory.size);
  return directory;
}

}  // namespace

struct Package::Archive {
  struct Entry {
    std::uint64_t data_offset = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t size = 0;  // inflated, as the central directory declares it
    std::uint32_t crc = 0;
    int method = -1;  // -1 when the local header cannot be read
    bool encrypted = false;
  };

  Archive(Bytes b, std::size_t budget) : bytes(b), inflation_budget(budget) {}

  Bytes bytes;
  std::unordered_map<std::string, Entry> entries;
  std::size_t inflation_budget;
  std::size_t inflated = 0;  // by the parts read so far
};

Package::Package(std::unique_ptr<Archive> archive) : archive_(std::move(archive)) {}
Package::Package(Package&&) noexcept = default;
Package& Package::operator=(Package&&) noexcept = default;
Package::~Package() = default;

Result<Package> Package::open(Bytes bytes, std::size_t inflation_budget) {
  Result<Directory> found = find_directory(bytes);
  if (!found) return std::move(found).error();
  const Directory& directory = found.value();
  if (directory.entries > kMaxPackageEntries) {
    return ConvertError::package("more than " + std::to_string(kMaxPackageEntries) + " entries");
  }

  auto archive = std::make_unique<Archive>(bytes, inflation_budget);
  std::vector<Range> ranges;
  std::uint64_t at = directory.shift + directory.offset;
  for (std::uint64_t k = 0; k < directory.entries; ++k) {
    const auto header = bytes_at(bytes, at, kCentralSize);
    if (!header || u32_at(*header, 0) != kCentralSignature) {
      return ConvertError::package("the central directory is damaged");
    }
    const Bytes h = *header;
    const std::uint16_t name_size = *u16_at(h, 28);
    const std::uint16_t extra_size = *u16_at(h, 30);
    const std::uint16_t comment_size = *u16_at(h, 32);
    const auto name = bytes_at(bytes, at + kCentralSize, name_size);
    const auto extra = bytes_at(bytes, at + kCentralSize + name_size, extra_size);
    if (!name || !extra) return ConvertError::package("the central directory is damaged");
    at += kCentralSize + name_size + extra_size + comment_size;

    Archive::Entry entry;
    entry.encrypted = (*u16_at(h, 8) & kEncryptedFlag) != 0;
    const std::uint16_t method = *u16_at(h, 10);
    entry.crc = *u32_at(h, 16);
    entry.compressed_size = *u32_at(h, 20);
    entry.size = *u32_at(h, 24);
    std::uint64_t local = *u32_at(h, 42);
    // A ZIP64 extra field holds, in this order, the values whose 32-bit fields are all ones.
    for (std::size_t e = 0; e + 4 <= extra->size();) {
      const std::uint16_t id = *u16_at(*extra, e);
      const std::uint16_t size = *u16_at(*extra, e + 2);
      if (id == kZip64ExtraId) {
        std::size_t v = e + 4;
        for (std::uint64_t* field : {&entry.size, &entry.compressed_size, &local}) {
          if (*field != 0xFFFFFFFF) continue;
          if (v + 8 > e + 4 + size) break;
          if (const auto value = u64_at(*extra, v)) *field = *value;
          v += 8;
        }
      }
      e += 4 + std::size_t{size};
    }

    // The data start after the local header, whose name and method must agree.
    const auto local_header = bytes_at(bytes, directory.shift + local, kLocalSize);
    if (local_header && u32_at(*local_header, 0) == kLocalSignature &&
        *u16_at(*local_header, 8) == method && *u16_at(*local_header, 26) == name_size) {
      const std::uint64_t data =
          directory.shift + local + kLocalSize + name_size + *u16_at(*local_header, 28);
      if (bytes_at(bytes, data, entry.compressed_size)) {
        entry.method = method;
        entry.data_offset = data;
        if (entry.compressed_size > 0) ranges.push_back({data, data + entry.compressed_size});
      }
    }
    // The first of two entries with one name is the one read.
    archive->entries.try_emplace(
        normalise_name(std::string(reinterpret_cast<const char*>(name->data()), name->size())),
        entry);
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

std::optional<std::uint64_t> Package::declared_size(std::string_view name) const {
  const auto found = archive_->entries.find(std::string(name));
  if (found == archive_->entries.end()) return std::nullopt;
  return found->second.size;
}

Result<Part> Package::read(std::string_view name) const {
  const auto found = archive_->entries.find(std::string(name));
  if (found == archive_->entries.end()) {
    return ConvertError::package(std::string(name) + " is missing");
  }
  const Archive::Entry& entry = found->second;
  if (entry.encrypted) return ConvertError::package(std::string(name) + " is encrypted");
  if (entry.method == -1) return ConvertError::package(std::string(name) + " is damaged");
  if (entry.method != kStored && entry.method != kDeflated) {
    return ConvertError::package(std::string(name) +
                                 " uses a compression method other than DEFLATE");
  }
  const Bytes data = archive_->bytes.subspan(static_cast<std::size_t>(entry.data_offset),
                                             static_cast<std::size_t>(entry.compressed_size));
  const std::size_t budget = archive_->inflation_budget - archive_->inflated;
  const auto over_budget = [&] {
    return ConvertError::package(std::string(name) + " takes the parts read past " +
                                     std::to_string(archive_->inflation_budget) + " inflated bytes",
                                 ErrorCause::OverCeiling);
  };
  const auto wrong_size = [&] {
    return ConvertError::package(std::string(name) + " is damaged (its size is not the " +
                                 std::to_string(entry.size) + " bytes its entry declares)");
  };

  Part part;
  if (entry.method == kStored) {
    if (data.size() != entry.size) return wrong_size();
    if (data.size() > budget) return over_budget();
    part.bytes = data;
  } else {
    // Never more than the entry declares, the budget leaves or the ceiling allows.
    const std::uint64_t limit = std::min<std::uint64_t>({entry.size, budget, kOutputLimit});
    Result<Inflated> inflated = inflate_raw_stream(data, static_cast<std::size_t>(limit));
    if (!inflated) {
      if (inflated.error().cause() != ErrorCause::OverCeiling) return std::move(inflated).error();
      if (limit == entry.size) return wrong_size();
      if (limit == budget) return over_budget();
      return std::move(inflated).error();
    }
    if (!inflated->ended) {
      return ConvertError::package(std::string(name) +
                                   " is damaged (its data end inside the "
                                   "compressed stream)");
    }
    if (inflated->bytes.size() != entry.size) return wrong_size();
    part.inflated = std::move(inflated->bytes);
    part.bytes = part.inflated.bytes();
  }
  if (crc32_of(part.bytes) != entry.crc) {
    return ConvertError::package(std::string(name) + " is damaged (its CRC-32 does not match)");
  }
  archive_->inflated += part.bytes.size();
  return part;
}

}  // namespace paravox
