#include "hwp/cfb_guard.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_cursor.h"

namespace paravox {
namespace {

constexpr std::size_t kHeaderSize = 512;
constexpr std::array<std::uint8_t, 8> kMagic = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kSectorShiftOffset = 0x1E;
constexpr std::size_t kFatSectorCountOffset = 0x2C;
constexpr std::size_t kFirstDirectorySectorOffset = 0x30;
constexpr std::size_t kFirstMiniFatSectorOffset = 0x3C;
constexpr std::size_t kMiniFatSectorCountOffset = 0x40;
constexpr std::size_t kFirstDifatSectorOffset = 0x44;
constexpr std::size_t kDifatSectorCountOffset = 0x48;
constexpr std::size_t kHeaderDifatOffset = 0x4C;
constexpr std::uint32_t kHeaderDifatEntries = 109;
constexpr std::uint32_t kDirectoryEntrySize = 128;
// Sector numbers above this are markers (end of chain, free, FAT, DIFAT), not sectors.
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;

ConvertError invalid(const std::string& what) {
  return ConvertError::compound_file("Invalid CFB file (" + what + ")");
}

// A file too short for the header, or without the signature, is no compound file at all.
ConvertError not_compound_file(const std::string& what) {
  return ConvertError::compound_file("Invalid CFB file (" + what + ")", ErrorCause::NotThisFormat);
}

// Follows sector numbers through the DIFAT and FAT of one file.
class SectorMap {
 public:
  SectorMap(std::uint64_t file_size, const ReadAt& read, Bytes header, unsigned shift)
      : file_size_(file_size),
        read_(read),
        header_(header),
        shift_(shift),
        entries_per_sector_((std::uint32_t{1} << shift) / 4) {}

  bool inside(std::uint32_t sector) const noexcept { return offset_of(sector) < file_size_; }

  std::uint64_t offset_of(std::uint32_t sector) const noexcept {
    return (std::uint64_t{sector} + 1) << shift_;
  }

  // The FAT entry of `sector` (the next sector of its chain).
  Result<std::uint32_t> next(std::uint32_t sector) {
    auto fat_sector = fat_sector_for(sector / entries_per_sector_, sector);
    if (!fat_sector) return std::move(fat_sector).error();
    return read_u32(*fat_sector, sector % entries_per_sector_, "allocation table");
  }

  // The sector holding FAT block `index`.
  Result<std::uint32_t> fat_block(std::uint32_t index) {
    return fat_sector_for(index, index * entries_per_sector_);
  }

 private:
  // The sector holding FAT block `index`, from the header's 109 DIFAT entries or the
  // chain of DIFAT sectors after them (each ending with the number of the next one).
  Result<std::uint32_t> fat_sector_for(std::uint32_t index, std::uint32_t for_sector) {
    std::uint32_t fat_sector = 0;
    if (index < kHeaderDifatEntries) {
      fat_sector = *u32_at(header_, kHeaderDifatOffset + 4 * std::size_t{index});
    } else {
      const std::uint32_t per_difat_sector = entries_per_sector_ - 1;
      const std::uint32_t chain_index = (index - kHeaderDifatEntries) / per_difat_sector;
      while (difat_chain_.size() <= chain_index) {
        std::uint32_t difat_sector = 0;
        if (difat_chain_.empty()) {
          difat_sector = *u32_at(header_, kFirstDifatSectorOffset);
        } else {
          auto link = read_u32(difat_chain_.back(), per_difat_sector, "DIFAT");
          if (!link) return std::move(link).error();
          difat_sector = *link;
        }
        if (difat_sector > kMaxRegularSector) return no_fat_entry(for_sector);
        if (!inside(difat_sector)) {
          return invalid("DIFAT sector " + std::to_string(difat_sector) + " lies outside the file");
        }
        difat_chain_.push_back(difat_sector);
      }
      auto entry = read_u32(difat_chain_[chain_index],
                            (index - kHeaderDifatEntries) % per_difat_sector, "DIFAT");
      if (!entry) return std::move(entry).error();
      fat_sector = *entry;
    }
    if (fat_sector > kMaxRegularSector) return no_fat_entry(for_sector);
    return fat_sector;
  }

  ConvertError no_fat_entry(std::uint32_t sector) const {
    return invalid("no allocation table entry for sector " + std::to_string(sector));
  }

  // The 32-bit word number `slot` of `sector`, which must lie wholly inside the file.
  Result<std::uint32_t> read_u32(std::uint32_t sector, std::uint32_t slot, const char* what) {
    const std::uint64_t at = offset_of(sector) + 4 * std::uint64_t{slot};
    if (at >= file_size_ || file_size_ - at < 4) {
      return invalid(std::string(what) + " sector " + std::to_string(sector) +
                     " lies outside the file");
    }
    std::array<std::uint8_t, 4> word{};
    auto got = read_(at, word);
    if (!got) return std::move(got).error();
    if (*got != word.size()) {
      return invalid(std::string(what) + " sector " + std::to_string(sector) +
                     " lies outside the file");
    }
    return *u32_at(word, 0);
  }

  std::uint64_t file_size_;
  const ReadAt& read_;
  Bytes header_;
  unsigned shift_;
  std::uint32_t entries_per_sector_;
  std::vector<std::uint32_t> difat_chain_;
};

// Directory entry fields the reader links its tree by.
constexpr std::size_t kEntryTypeOffset = 66;
constexpr std::size_t kEntryLeftOffset = 68;
constexpr std::size_t kEntryRightOffset = 72;
constexpr std::size_t kEntryChildOffset = 76;
constexpr std::uint8_t kEmptyEntry = 0;
constexpr std::uint8_t kRootEntry = 5;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;

// The reader keeps only the entries it links into its tree and drops the others without
// freeing them; an entry it links twice it frees twice. So every non-empty entry must be
// reached exactly once from the root entry (the first of type root), as the reader walks:
// left and right links from every entry, child links only when the root is entry 0, never a
// child link to entry 0, and no siblings of the root. A link to an empty or missing entry
// leads nowhere. A root without children makes no tree; the reader then frees every entry.
Status check_directory_tree(const std::vector<std::uint32_t>& chain, const SectorMap& sectors,
                            unsigned shift, const ReadAt& read) {
  const std::size_t sector_size = std::size_t{1} << shift;
  std::vector<std::uint8_t> directory(chain.size() * sector_size);
  for (std::size_t i = 0; i < chain.size(); ++i) {
    auto got = read(sectors.offset_of(chain[i]),
                    std::span<std::uint8_t>(directory).subspan(i * sector_size, sector_size));
    if (!got) return std::move(got).error();
    if (*got != sector_size) return {};  // the reader refuses a directory cut short
  }
  const Bytes entries(directory);
  const std::size_t count = directory.size() / kDirectoryEntrySize;
  const auto field = [&](std::size_t index, std::size_t offset) {
    return *u32_at(entries, index * kDirectoryEntrySize + offset);
  };
  const auto real = [&](std::uint32_t index) {
    return index < count && entries[index * kDirectoryEntrySize + kEntryTypeOffset] != kEmptyEntry;
  };
  std::size_t root = 0;
  while (root < count && entries[root * kDirectoryEntrySize + kEntryTypeOffset] != kRootEntry) {
    ++root;
  }
  if (root == count) return {};  // the reader refuses a directory without a root
  if (field(root, kEntryChildOffset) == kNoEntry) return {};
  if (real(field(root, kEntryLeftOffset)) || real(field(root, kEntryRightOffset))) {
    return invalid("the root directory entry has siblings");
  }
  const bool children_followed = root == 0;
  std::vector<bool> reached(count, false);
  reached[root] = true;
  std::vector<std::uint32_t> pending;
  const auto follow = [&](std::size_t from) {
    const std::uint32_t child = field(from, kEntryChildOffset);
    if (children_followed && child != 0 && real(child)) pending.push_back(child);
    for (const std::size_t offset : {kEntryLeftOffset, kEntryRightOffset}) {
      if (real(field(from, offset))) pending.push_back(field(from, offset));
    }
  };
  follow(root);
  while (!pending.empty()) {
    const std::uint32_t index = pending.back();
    pending.pop_back();
    if (reached[index]) {
      return invalid("directory entry " + std::to_string(index) + " is linked twice");
    }
    reached[index] = true;
    follow(index);
  }
  for (std::uint32_t index = 0; index < count; ++index) {
    if (real(index) && !reached[index]) {
      return invalid("directory entry " + std::to_string(index) + " is outside the directory tree");
    }
  }
  return {};
}

}  // namespace

Status check_compound_file(std::uint64_t file_size, const ReadAt& read) {
  std::array<std::uint8_t, kHeaderSize> header{};
  std::size_t got = 0;
  if (file_size > 0) {
    auto read_bytes = read(0, header);
    if (!read_bytes) return std::move(read_bytes).error();
    got = *read_bytes;
  }
  // A file shorter than its header is a damaged compound file when what it holds begins as
  // one, and no compound file at all otherwise.
  const std::size_t compared = std::min(got, kMagic.size());
  const bool signed_as_compound_file =
      got > 0 && std::equal(kMagic.begin(), kMagic.begin() + compared, header.begin());
  const auto too_small = [&](std::uint64_t size) {
    const std::string what = std::to_string(size) + " bytes is too small";
    return signed_as_compound_file ? invalid(what) : not_compound_file(what);
  };
  if (file_size < kHeaderSize) return too_small(file_size);
  if (got != header.size()) return too_small(got);
  if (!std::equal(kMagic.begin(), kMagic.end(), header.begin())) {
    return not_compound_file("wrong magic number");
  }

  const Bytes header_bytes(header);
  const std::uint16_t shift = *u16_at(header_bytes, kSectorShiftOffset);
  // Version 3 files use 512-byte sectors and version 4 files 4096-byte ones; the reader
  // accepts any size, and with the wrong one reads garbage as its directory.
  if (shift != 9 && shift != 12) {
    return invalid("sector size 2^" + std::to_string(shift) + " is neither 512 nor 4096 bytes");
  }

  // The reader sizes its allocation tables by the header's counts before it reads them; no
  // table can have more sectors than the file.
  const std::uint64_t whole_sectors = std::max<std::uint64_t>(file_size >> shift, 1) - 1;
  const std::uint32_t fat_count = *u32_at(header_bytes, kFatSectorCountOffset);
  const std::uint32_t mini_fat_count = *u32_at(header_bytes, kMiniFatSectorCountOffset);
  const std::uint32_t difat_count = *u32_at(header_bytes, kDifatSectorCountOffset);
  for (const auto& [count, table] :
       {std::pair{fat_count, "allocation table"},
        std::pair{mini_fat_count, "mini allocation table"}, std::pair{difat_count, "DIFAT"}}) {
    if (count > whole_sectors) {
      return invalid(std::string(table) + " of " + std::to_string(count) +
                     " sectors is larger than the file");
    }
  }

  SectorMap sectors(file_size, read, header_bytes, shift);
  const std::uint32_t entries_per_sector = (std::uint32_t{1} << shift) / kDirectoryEntrySize;
  const std::uint32_t max_sectors = kMaxDirectoryEntries / entries_per_sector;
  std::vector<std::uint32_t> chain;
  std::uint32_t sector = *u32_at(header_bytes, kFirstDirectorySectorOffset);
  // A marker (normally the end-of-chain one) ends the chain; the reader judges the rest.
  while (sector <= kMaxRegularSector) {
    if (std::find(chain.begin(), chain.end(), sector) != chain.end()) {
      return invalid("directory sector chain loops back to sector " + std::to_string(sector));
    }
    if (chain.size() == max_sectors) {
      return invalid("directory holds more than " + std::to_string(kMaxDirectoryEntries) +
                     " entries");
    }
    if (!sectors.inside(sector)) {
      return invalid("directory sector " + std::to_string(sector) + " lies outside the file");
    }
    chain.push_back(sector);
    auto next = sectors.next(sector);
    if (!next) return std::move(next).error();
    sector = *next;
  }

  // The reader reads the FAT blocks from the DIFAT in order, skipping free markers and
  // keeping going after a sector it cannot read; each block must lie whole in the file for
  // the reader's FAT to be the one checked here.
  for (std::uint32_t block = 0; block < fat_count; ++block) {
    auto fat_sector = sectors.fat_block(block);
    if (!fat_sector) return std::move(fat_sector).error();
    if (*fat_sector >= whole_sectors) {
      return invalid("allocation table sector " + std::to_string(*fat_sector) +
                     " lies outside the file");
    }
  }
  const std::uint64_t fat_entries = std::uint64_t{fat_count} << (shift - 2);
  // The reader leaks memory when a mini FAT sector it follows cannot be read or has no FAT
  // entry: each must lie whole inside the file and inside the FAT the header declares. The
  // reader follows at most the declared count; a free-sector marker stops it in place.
  sector = *u32_at(header_bytes, kFirstMiniFatSectorOffset);
  for (std::uint32_t followed = 0;
       followed < mini_fat_count && sector != kEndOfChain && sector != kFreeSector; ++followed) {
    if (sector >= whole_sectors) {
      return invalid("mini allocation table sector " + std::to_string(sector) +
                     " lies outside the file");
    }
    if (sector >= fat_entries) {
      return invalid("no allocation table entry for sector " + std::to_string(sector));
    }
    auto next = sectors.next(sector);
    if (!next) return std::move(next).error();
    sector = *next;
  }
  return check_directory_tree(chain, sectors, shift, read);
}

}  // namespace paravox
