#include "base/file_io.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace paravox {
namespace {

using Data = std::vector<std::uint8_t>;

// A temporary file holding `bytes`, removed on destruction.
class TempFile {
 public:
  explicit TempFile(const Data& bytes) {
    char name[] = "/tmp/paravox_file_io_XXXXXX";
    const int fd = ::mkstemp(name);
    EXPECT_GE(fd, 0);
    path_ = name;
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
  }
  ~TempFile() { ::unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Bytes whose value depends on their offset, so a read from the wrong place shows.
Data numbered_bytes(std::size_t size) {
  Data out(size);
  for (std::size_t i = 0; i < size; ++i)
    out[i] = static_cast<std::uint8_t>((i * 131 + i / 251) & 0xFF);
  return out;
}

TEST(OpenReadOnly, RefusesNulAndReportsErrno) {
  const auto nul = open_read_only(std::string_view("a\0b", 3));
  ASSERT_FALSE(nul.ok());
  EXPECT_EQ(nul.error().message(), "IO error: file name contained an unexpected NUL byte");

  const auto missing = open_read_only("/nonexistent/paravox/file.hwp");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().os_error(), 2);
}

TEST(BlockCache, ReadsWhatTheFileHolds) {
  constexpr std::size_t kBlock = BlockCache::kBlockSize;
  const std::size_t size = 6 * kBlock + 1000;  // more blocks than the cache keeps
  const Data bytes = numbered_bytes(size);
  const TempFile file(bytes);
  auto fd = open_read_only(file.path());
  ASSERT_TRUE(fd.ok());
  BlockCache cache(fd->get());

  struct Case {
    const char* name;
    std::uint64_t offset;
    std::size_t length;
  };
  const Case cases[] = {
      {"start", 0, 16},
      {"across a block boundary", kBlock - 3, 10},
      {"across two boundaries", kBlock - 1, kBlock - 1},
      {"a whole block, past the cache", 2 * kBlock, kBlock},
      {"larger than a block", kBlock / 2, 3 * kBlock},
      {"last bytes", size - 7, 7},
      {"running past the end", size - 5, 64},
      {"starting at the end", size, 64},
      {"starting past the end", size + 100000, 4},
      {"empty", 17, 0},
  };
  for (const Case& c : cases) {
    Data out(c.length, 0xEE);
    const auto got = cache.read(c.offset, out);
    ASSERT_TRUE(got.ok()) << c.name;
    const std::size_t expected =
        c.offset >= size ? 0 : std::min<std::size_t>(c.length, size - c.offset);
    ASSERT_EQ(got.value(), expected) << c.name;
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(expected),
                           bytes.begin() + static_cast<std::ptrdiff_t>(c.offset)))
        << c.name;
  }

  // Many small reads all over the file, so blocks are evicted and read again.
  std::mt19937 random(99);
  for (int i = 0; i < 5000; ++i) {
    const std::uint64_t offset = random() % (size + 10);
    Data out(1 + random() % 600);
    const auto got = cache.read(offset, out);
    ASSERT_TRUE(got.ok());
    const std::size_t expected =
        offset >= size ? 0 : std::min<std::size_t>(out.size(), size - offset);
    ASSERT_EQ(got.value(), expected) << "offset " << offset;
    ASSERT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(expected),
                           bytes.begin() + static_cast<std::ptrdiff_t>(offset)))
        << "offset " << offset;
  }
}

TEST(BlockCache, ReportsReadErrors) {
  auto fd = open_read_only("/tmp");
  ASSERT_TRUE(fd.ok());
  BlockCache cache(fd->get());
  Data out(8);
  const auto got = cache.read(0, out);
  ASSERT_FALSE(got.ok());
  EXPECT_EQ(got.error().os_error(), 21);  // EISDIR
}

// Whole files, with sizes that are right, too small or unknown (0, as for a pipe), and limits
// that are reached exactly or passed by one byte.
TEST(ReadToEnd, ReadsEverythingUpToTheLimit) {
  const Data bytes = numbered_bytes(300'000);
  const TempFile file(bytes);
  struct Case {
    std::uint64_t expected_size;
    std::uint64_t limit;
    bool ok;
  };
  for (const Case& c :
       {Case{300'000, 1 << 20, true}, Case{0, 1 << 20, true}, Case{1000, 300'000, true},
        Case{0, 299'999, false}, Case{300'000, 299'999, false}}) {
    auto fd = open_read_only(file.path());
    ASSERT_TRUE(fd.ok());
    const auto data = read_to_end(fd->get(), c.expected_size, c.limit);
    ASSERT_EQ(data.ok(), c.ok) << c.expected_size << " " << c.limit;
    if (c.ok) {
      EXPECT_EQ(Data(data.value().bytes().begin(), data.value().bytes().end()), bytes);
    } else {
      EXPECT_EQ(data.error().message(), "IO error: more than 299999 bytes to read");
    }
  }
}

}  // namespace
}  // namespace paravox
