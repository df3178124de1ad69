#include "hwp/cfb_guard.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace paravox {
namespace {

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFree = 0xFFFFFFFF;

// A compound file image of any size that stores only the bytes written to it (header,
// DIFAT and FAT words); every other byte reads as zero.
class SparseCfb {
 public:
  explicit SparseCfb(unsigned shift = 9) : shift_(shift) {
    static const std::uint8_t kMagic[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    for (std::uint64_t i = 0; i < 8; ++i) bytes_[i] = kMagic[i];
    put_u16(0x1E, static_cast<std::uint16_t>(shift));
    put_u32(0x30, kEndOfChain);  // no directory
    put_u32(0x44, kEndOfChain);  // no DIFAT sectors
    for (std::uint32_t slot = 0; slot < 109; ++slot) put_u32(0x4C + 4 * slot, kFree);
    set_difat(0, 0);  // FAT block 0 lives in sector 0
    size_ = 512;
    cover(0);
  }

  std::uint32_t sector_size() const { return std::uint32_t{1} << shift_; }
  std::uint64_t offset_of(std::uint32_t sector) const {
    return (std::uint64_t{sector} + 1) << shift_;
  }

  // Makes the file long enough to hold `sector` whole.
  SparseCfb& cover(std::uint32_t sector) {
    size_ = std::max(size_, offset_of(sector) + sector_size());
    return *this;
  }
  SparseCfb& set_size(std::uint64_t size) {
    size_ = size;
    return *this;
  }
  SparseCfb& first_directory_sector(std::uint32_t sector) {
    put_u32(0x30, sector);
    return *this;
  }
  // The sector holding FAT block `index` (index < 109: header; else the DIFAT sectors).
  SparseCfb& set_difat(std::uint32_t index, std::uint32_t fat_sector) {
    if (index < 109) {
      put_u32(0x4C + 4 * index, fat_sector);
    } else {
      const std::uint32_t per_sector = sector_size() / 4 - 1;
      put_u32(offset_of(difat_sectors_.at((index - 109) / per_sector)) +
                  4 * ((index - 109) % per_sector),
              fat_sector);
    }
    return *this;
  }
  // Places FAT blocks 0, 1, ... `count` - 1 in sectors `first`, `first` + 1, ...
  SparseCfb& fat_sectors_at(std::uint32_t first, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
      set_difat(i, first + i);
      cover(first + i);
    }
    return *this;
  }
  // Puts DIFAT sectors in `sectors`, linked in that order.
  SparseCfb& difat_chain(std::vector<std::uint32_t> sectors) {
    difat_sectors_ = sectors;
    put_u32(0x44, sectors.front());
    const std::uint32_t last_slot = sector_size() / 4 - 1;
    for (std::size_t i = 0; i < sectors.size(); ++i) {
      cover(sectors[i]);
      put_u32(offset_of(sectors[i]) + 4 * last_slot,
              i + 1 < sectors.size() ? sectors[i + 1] : kEndOfChain);
    }
    return *this;
  }
  // Sets the FAT entry of `sector`, reading the FAT sector from the DIFAT written so far.
  SparseCfb& link(std::uint32_t sector, std::uint32_t next) {
    const std::uint32_t per_sector = sector_size() / 4;
    const std::uint32_t fat_sector = fat_sector_of(sector / per_sector);
    cover(fat_sector);
    put_u32(offset_of(fat_sector) + 4 * (sector % per_sector), next);
    return *this;
  }
  // A directory chain through `sectors`, in order, each covered by the file.
  SparseCfb& directory(const std::vector<std::uint32_t>& sectors) {
    first_directory_sector(sectors.empty() ? kEndOfChain : sectors.front());
    for (std::size_t i = 0; i < sectors.size(); ++i) {
      cover(sectors[i]);
      link(sectors[i], i + 1 < sectors.size() ? sectors[i + 1] : kEndOfChain);
    }
    return *this;
  }
  SparseCfb& put_u16(std::uint64_t at, std::uint16_t value) {
    bytes_[at] = static_cast<std::uint8_t>(value);
    bytes_[at + 1] = static_cast<std::uint8_t>(value >> 8);
    return *this;
  }
  SparseCfb& put_u32(std::uint64_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return *this;
  }

  // "ok" or the error's message.
  std::string check() const {
    const ReadAt read = [this](std::uint64_t offset, std::span<std::uint8_t> out) {
      return read_at(offset, out);
    };
    const Status status = check_compound_file(size_, read);
    return status ? "ok" : status.error().message();
  }

 private:
  Result<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset >= size_) return std::size_t{0};
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size_ - offset));
    for (std::size_t i = 0; i < n; ++i) {
      const auto found = bytes_.find(offset + i);
      out[i] = found == bytes_.end() ? 0 : found->second;
    }
    return n;
  }

  std::uint32_t fat_sector_of(std::uint32_t index) const {
    std::uint64_t at = 0;
    if (index < 109) {
      at = 0x4C + 4 * std::uint64_t{index};
    } else {
      const std::uint32_t per_sector = sector_size() / 4 - 1;
      at = offset_of(difat_sectors_.at((index - 109) / per_sector)) +
           4 * ((index - 109) % per_sector);
    }
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const auto found = bytes_.find(at + i);
      value |= std::uint32_t{found == bytes_.end() ? std::uint8_t{0} : found->second} << (8 * i);
    }
    return value;
  }

  unsigned shift_;
  std::uint64_t size_ = 0;
  std::map<std::uint64_t, std::uint8_t> bytes_;
  std::vector<std::uint32_t> difat_sectors_;
};

// Sectors first, first + 1, ..., count of them.
std::vector<std::uint32_t> run_of(std::uint32_t first, std::uint32_t count) {
  std::vector<std::uint32_t> out(count);
  for (std::uint32_t i = 0; i < count; ++i) out[i] = first + i;
  return out;
}

TEST(CheckCompoundFile, AcceptsOrRefuses) {
  // FAT sector 0 describes sectors 0..127 (512-byte sectors) or 0..1023 (4096-byte ones).
  struct Case {
    const char* name;
    SparseCfb file;
    std::string expected;
  };
  const std::string invalid = "Compound file error: Invalid CFB file (";
  const Case cases[] = {
      {"empty file", SparseCfb().set_size(0), invalid + "0 bytes is too small)"},
      {"one byte short of a header", SparseCfb().set_size(511),
       invalid + "511 bytes is too small)"},
      {"wrong magic", SparseCfb().directory({1}).put_u32(0, 0x04034B50),
       invalid + "wrong magic number)"},
      {"one directory sector", SparseCfb().directory({1}), "ok"},
      {"no directory at all", SparseCfb(), "ok"},
      {"4096-byte sectors", SparseCfb(12).directory({1, 2}), "ok"},
      {"sector size 1024", SparseCfb(10).directory({1}),
       invalid + "sector size 2^10 is neither 512 nor 4096 bytes)"},
      {"sector size 128", SparseCfb(7).directory({1}),
       invalid + "sector size 2^7 is neither 512 nor 4096 bytes)"},
      {"2048 sectors of 4 entries", SparseCfb().fat_sectors_at(3000, 17).directory(run_of(1, 2048)),
       "ok"},
      {"2049 sectors of 4 entries", SparseCfb().fat_sectors_at(3000, 17).directory(run_of(1, 2049)),
       invalid + "directory holds more than 8192 entries)"},
      {"256 sectors of 32 entries", SparseCfb(12).directory(run_of(1, 256)), "ok"},
      {"257 sectors of 32 entries", SparseCfb(12).directory(run_of(1, 257)),
       invalid + "directory holds more than 8192 entries)"},
      {"sector linked to itself", SparseCfb().directory({1}).link(1, 1),
       invalid + "directory sector chain loops back to sector 1)"},
      {"chain back to its start", SparseCfb().directory({1, 2, 3}).link(3, 1),
       invalid + "directory sector chain loops back to sector 1)"},
      {"first sector past the end", SparseCfb().first_directory_sector(40),
       invalid + "directory sector 40 lies outside the file)"},
      {"next sector past the end", SparseCfb().directory({1, 2}).link(2, 7),
       invalid + "directory sector 7 lies outside the file)"},
      {"file ending inside the last sector", SparseCfb().directory({1, 2}).set_size(512 * 3 + 1),
       "ok"},
      {"free FAT entry ends the chain", SparseCfb().directory({1, 2}).link(2, kFree), "ok"},
      {"no FAT block for the sector", SparseCfb().directory({1}).link(1, 200).cover(200),
       invalid + "no allocation table entry for sector 200)"},
      {"FAT sector past the end",
       SparseCfb().directory({1}).link(1, 200).cover(200).set_difat(1, 5000),
       invalid + "allocation table sector 5000 lies outside the file)"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.file.check(), c.expected) << c.name;
}

// A directory sector far enough into the file needs the DIFAT sectors after the header's 109
// entries to find its FAT sector.
TEST(CheckCompoundFile, FollowsTheDifatChain) {
  const std::uint32_t far_sector = 109 * 128 + 127 * 128 + 5;  // FAT block 109 + 127
  const auto build = [&](std::uint32_t fat_sector) {
    SparseCfb file;
    file.difat_chain({2, 3}).set_difat(109 + 127, fat_sector);
    file.cover(fat_sector);
    return file.directory({1, far_sector});
  };
  EXPECT_EQ(build(4).check(), "ok");

  SparseCfb looped = build(4);
  looped.link(far_sector, 1);
  EXPECT_EQ(
      looped.check(),
      "Compound file error: Invalid CFB file (directory sector chain loops back to sector 1)");

  SparseCfb short_chain = build(4);
  short_chain.put_u32(short_chain.offset_of(2) + 4 * 127, kEndOfChain);  // DIFAT ends early
  EXPECT_EQ(short_chain.check(),
            "Compound file error: Invalid CFB file (no allocation table entry for sector " +
                std::to_string(far_sector) + ")");

  SparseCfb outside = build(4);
  outside.put_u32(outside.offset_of(2) + 4 * 127, 90000);  // next DIFAT sector past the end
  EXPECT_EQ(outside.check(),
            "Compound file error: Invalid CFB file (DIFAT sector 90000 lies outside the file)");
}

TEST(CheckCompoundFile, ReadFailuresPassThrough) {
  const ReadAt failing = [](std::uint64_t, std::span<std::uint8_t>) -> Result<std::size_t> {
    return ConvertError::io_os(5);
  };
  const Status status = check_compound_file(4096, failing);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().kind(), ErrorKind::Io);
  EXPECT_EQ(status.error().os_error(), 5);
}

}  // namespace
}  // namespace paravox
