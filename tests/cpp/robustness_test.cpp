// Damage that the compound-file reader mishandles (it leaks a sector buffer, or sizes a table
// by an unchecked count) must be refused before the reader sees the file.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hwp/cfb_guard.h"

namespace paravox {
namespace {

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint32_t kSectorSize = 512;

// A version-3 compound file image of a given length holding only what is written to it:
// FAT sector 0 (declared in the header), a one-sector directory in sector 1 and the mini FAT
// fields. Unwritten bytes read as zero.
class DamagedCfb {
 public:
  DamagedCfb() {
    static const std::uint8_t kMagic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    for (std::uint64_t i = 0; i < 8; ++i) bytes_[i] = kMagic[i];
    put_u16(0x1E, 9);
    put_u32(0x2C, 1);  // one FAT sector ...
    put_u32(0x4C, 0);  // ... in sector 0
    put_u32(0x30, 1);  // directory in sector 1
    put_u32(0x44, kEndOfChain);
    for (std::uint32_t slot = 1; slot < 109; ++slot) put_u32(0x4C + 4 * slot, kFree);
    link(0, 0xFFFFFFFD);  // sector 0 is a FAT sector
    link(1, kEndOfChain);
    mini_fat(kEndOfChain, 0);
  }

  DamagedCfb& size(std::uint64_t bytes) {
    size_ = bytes;
    return *this;
  }
  DamagedCfb& fat_count(std::uint32_t count) { return put_u32(0x2C, count); }
  DamagedCfb& difat_count(std::uint32_t count) { return put_u32(0x48, count); }
  DamagedCfb& mini_fat(std::uint32_t first, std::uint32_t count) {
    put_u32(0x3C, first);
    return put_u32(0x40, count);
  }
  // Puts FAT block `index` in `sector` (header DIFAT slots only).
  DamagedCfb& fat_block(std::uint32_t index, std::uint32_t sector) {
    return put_u32(0x4C + 4 * std::uint64_t{index}, sector);
  }
  // Writes directory entry `index` (0 to 3, all in sector 1) with its type and links.
  DamagedCfb& entry(std::uint32_t index, std::uint8_t type, std::uint32_t left, std::uint32_t right,
                    std::uint32_t child) {
    const std::uint64_t at = 2 * kSectorSize + 128 * std::uint64_t{index};
    bytes_[at + 66] = type;
    put_u32(at + 68, left);
    put_u32(at + 72, right);
    return put_u32(at + 76, child);
  }
  // Sets the FAT entry of `sector` (FAT sector 0 holds sectors 0 to 127).
  DamagedCfb& link(std::uint32_t sector, std::uint32_t next) {
    return put_u32(kSectorSize + 4 * std::uint64_t{sector}, next);
  }

  // "ok" or the message of the refusal.
  std::string check() const {
    const ReadAt read = [this](std::uint64_t offset, std::span<std::uint8_t> out) {
      if (offset >= size_) return Result<std::size_t>(std::size_t{0});
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size_ - offset));
      for (std::size_t i = 0; i < n; ++i) {
        const auto found = bytes_.find(offset + i);
        out[i] = found == bytes_.end() ? 0 : found->second;
      }
      return Result<std::size_t>(n);
    };
    const Status status = check_compound_file(size_, read);
    return status ? "ok" : status.error().message();
  }

 private:
  DamagedCfb& put_u16(std::uint64_t at, std::uint16_t value) {
    bytes_[at] = static_cast<std::uint8_t>(value);
    bytes_[at + 1] = static_cast<std::uint8_t>(value >> 8);
    return *this;
  }
  DamagedCfb& put_u32(std::uint64_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return *this;
  }

  std::uint64_t size_ = 8 * kSectorSize;  // header and sectors 0 to 6
  std::map<std::uint64_t, std::uint8_t> bytes_;
};

// Offset of sector `n` in the file.
constexpr std::uint64_t at_sector(std::uint32_t n) {
  return (std::uint64_t{n} + 1) * kSectorSize;
}

TEST(CompoundFileAllocationTables, RefusedWhenTheReaderCouldNotFollowThem) {
  const std::string refused = "Compound file error: Invalid CFB file (";
  struct Case {
    const char* name;
    DamagedCfb file;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"no mini FAT", DamagedCfb(), "ok"},
      {"mini FAT of one sector", DamagedCfb().mini_fat(2, 1).link(2, kEndOfChain), "ok"},
      {"mini FAT chain of three sectors",
       DamagedCfb().mini_fat(2, 3).link(2, 5).link(5, 3).link(3, kEndOfChain), "ok"},
      {"count 0 ignores the first sector", DamagedCfb().mini_fat(5000, 0), "ok"},
      {"count stops the chain before it leaves the file", DamagedCfb().mini_fat(2, 1).link(2, 5000),
       "ok"},
      {"chain shorter than the count", DamagedCfb().mini_fat(2, 4).link(2, kEndOfChain), "ok"},
      {"free marker first", DamagedCfb().mini_fat(kFree, 3), "ok"},
      {"chain looping inside the file is only read again",
       DamagedCfb().mini_fat(2, 6).link(2, 3).link(3, 2), "ok"},
      {"last whole sector", DamagedCfb().mini_fat(6, 1).link(6, kEndOfChain), "ok"},
      {"first sector past the end", DamagedCfb().mini_fat(5000, 1),
       refused + "mini allocation table sector 5000 lies outside the file)"},
      {"first sector cut short by the end of the file",
       DamagedCfb().mini_fat(6, 1).link(6, kEndOfChain).size(at_sector(6) + 40),
       refused + "mini allocation table sector 6 lies outside the file)"},
      {"chain leaves the file", DamagedCfb().mini_fat(2, 2).link(2, 5000),
       refused + "mini allocation table sector 5000 lies outside the file)"},
      {"chain reaches a FAT marker", DamagedCfb().mini_fat(2, 2).link(2, 0xFFFFFFFD),
       refused + "mini allocation table sector 4294967293 lies outside the file)"},
      {"sector beyond the declared FAT", DamagedCfb().mini_fat(130, 1).size(at_sector(200)),
       refused + "no allocation table entry for sector 130)"},
      {"count larger than the file", DamagedCfb().mini_fat(2, 8).link(2, kEndOfChain),
       refused + "mini allocation table of 8 sectors is larger than the file)"},
      {"count of 8 GiB of table", DamagedCfb().mini_fat(2, 0x00FFFFFF),
       refused + "mini allocation table of 16777215 sectors is larger than the file)"},
      {"DIFAT count larger than the file", DamagedCfb().difat_count(0x00C3B48B),
       refused + "DIFAT of 12825739 sectors is larger than the file)"},
      {"FAT count larger than the file", DamagedCfb().fat_count(0xFFFFFFFF),
       refused + "allocation table of 4294967295 sectors is larger than the file)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.file.check(), c.expected) << c.name;
  }
}

constexpr std::uint8_t kStorage = 1;
constexpr std::uint8_t kStream = 2;
constexpr std::uint8_t kRoot = 5;

// Entries 0 to 3 of the directory in sector 1: a root and what hangs below it.
DamagedCfb directory() {
  return DamagedCfb();
}

TEST(CompoundFileDirectoryTree, EveryEntryReachedOnceFromTheRoot) {
  const std::string refused = "Compound file error: Invalid CFB file (";
  struct Case {
    const char* name;
    DamagedCfb file;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"root with one stream",
       directory().entry(0, kRoot, kFree, kFree, 1).entry(1, kStream, kFree, kFree, kFree), "ok"},
      {"siblings and a storage with a child",
       directory()
           .entry(0, kRoot, kFree, kFree, 1)
           .entry(1, kStorage, 2, kFree, 3)
           .entry(2, kStream, kFree, kFree, kFree)
           .entry(3, kStream, kFree, kFree, kFree),
       "ok"},
      {"links to an empty or missing entry lead nowhere",
       directory().entry(0, kRoot, kFree, kFree, 1).entry(1, kStream, 2, 100, 3), "ok"},
      {"root without children makes no tree",
       directory().entry(0, kRoot, kFree, kFree, kFree).entry(2, kStream, kFree, kFree, kFree),
       "ok"},
      {"no root at all", directory().entry(1, kStream, kFree, kFree, kFree), "ok"},
      {"entry no link reaches",
       directory()
           .entry(0, kRoot, kFree, kFree, 1)
           .entry(1, kStream, kFree, kFree, kFree)
           .entry(2, kStream, kFree, kFree, kFree),
       refused + "directory entry 2 is outside the directory tree)"},
      {"child link to the root is not followed",
       directory().entry(0, kRoot, kFree, kFree, 0).entry(1, kStream, kFree, kFree, kFree),
       refused + "directory entry 1 is outside the directory tree)"},
      {"children of a root that is not entry 0 are not followed",
       directory().entry(0, kStream, kFree, kFree, kFree).entry(1, kRoot, kFree, kFree, 0),
       refused + "directory entry 0 is outside the directory tree)"},
      {"entry linked from two places",
       directory()
           .entry(0, kRoot, kFree, kFree, 1)
           .entry(1, kStream, 2, 2, kFree)
           .entry(2, kStream, kFree, kFree, kFree),
       refused + "directory entry 2 is linked twice)"},
      {"sibling link back to the root",
       directory().entry(0, kRoot, kFree, kFree, 1).entry(1, kStream, 0, kFree, kFree),
       refused + "directory entry 0 is linked twice)"},
      {"root with a sibling",
       directory()
           .entry(0, kRoot, kFree, 2, 1)
           .entry(1, kStream, kFree, kFree, kFree)
           .entry(2, kStream, kFree, kFree, kFree),
       refused + "the root directory entry has siblings)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.file.check(), c.expected) << c.name;
  }
}

TEST(CompoundFileAllocationTables, EveryDeclaredFatBlockLiesInTheFile) {
  const std::string refused = "Compound file error: Invalid CFB file (";
  EXPECT_EQ(DamagedCfb().fat_count(2).fat_block(1, 3).check(), "ok");
  EXPECT_EQ(DamagedCfb().fat_count(2).check(),
            refused + "no allocation table entry for sector 128)");
  EXPECT_EQ(DamagedCfb().fat_count(2).fat_block(1, 7).check(),
            refused + "allocation table sector 7 lies outside the file)");
}

}  // namespace
}  // namespace paravox
