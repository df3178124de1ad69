#include "base/large_memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace paravox {
namespace {

// Appends `count` bytes of a position-dependent pattern, written through spare().
void append_pattern(ByteBuffer& buffer, std::size_t count) {
  buffer.reserve(buffer.size() + count);
  const std::size_t start = buffer.size();
  std::span<std::uint8_t> room = buffer.spare();
  for (std::size_t i = 0; i < count; ++i) room[i] = static_cast<std::uint8_t>((start + i) * 7);
  buffer.commit(count);
}

// The first position whose byte breaks the pattern, or size() when none does.
std::size_t first_mismatch(const ByteBuffer& buffer) {
  const std::span<const std::uint8_t> bytes = buffer.bytes();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != static_cast<std::uint8_t>(i * 7)) return i;
  }
  return bytes.size();
}

// Every move between heap blocks and mapped ones, in both directions, keeps the bytes.
TEST(ByteBuffer, KeepsItsBytesAcrossEveryKindOfResize) {
  struct Step {
    const char* name;
    std::size_t append;  // bytes appended (0: shrink_to_fit instead)
    std::size_t reserve_extra = 0;
  };
  const Step steps[] = {
      {"small heap block", 1000},
      {"heap block grown in place or moved", 60000},
      {"heap block to a mapped one", kLargeBlock},
      {"mapped block remapped larger", 3 * kLargeBlock + 12345},
      {"mapped block with spare room shrunk", 0, 5 * kLargeBlock},
  };
  ByteBuffer buffer;
  std::size_t expected_size = 0;
  for (const Step& step : steps) {
    if (step.append != 0) {
      append_pattern(buffer, step.append);
      expected_size += step.append;
    } else {
      buffer.reserve(buffer.size() + step.reserve_extra);
      buffer.shrink_to_fit();
    }
    ASSERT_EQ(buffer.size(), expected_size) << step.name;
    EXPECT_GE(buffer.capacity(), buffer.size()) << step.name;
    EXPECT_EQ(first_mismatch(buffer), expected_size) << step.name;
  }
  EXPECT_EQ(buffer.capacity(), buffer.size());
}

// Only pages wholly before the cut may go: the bytes from the cut on are always kept.
TEST(ByteBuffer, DiscardingTheFrontKeepsEveryByteFromTheCutOn) {
  const std::size_t mapped = 3 * kLargeBlock + 12345;
  const struct {
    std::size_t size;
    std::size_t cut;
  } cases[] = {
      {1000, 0},
      {1000, 999},
      {1000, 5000},
      {mapped, 0},
      {mapped, 1},
      {mapped, 4095},
      {mapped, 4096},
      {mapped, 4097},
      {mapped, kLargeBlock + 123},
      {mapped, mapped - 1},
      {mapped, mapped},
      {mapped, mapped + 4096},
  };
  for (const auto& c : cases) {
    ByteBuffer buffer;
    append_pattern(buffer, c.size);
    buffer.discard_front(c.cut);
    const std::span<const std::uint8_t> bytes = buffer.bytes();
    ASSERT_EQ(bytes.size(), c.size);
    std::size_t kept = c.cut;
    while (kept < bytes.size() && bytes[kept] == static_cast<std::uint8_t>(kept * 7)) ++kept;
    EXPECT_EQ(kept, std::max(c.cut, c.size)) << "size " << c.size << ", cut " << c.cut;
  }
}

TEST(ByteBuffer, ShrinksFromAMappedBlockToAHeapOne) {
  ByteBuffer buffer;
  buffer.reserve(4 * kLargeBlock);
  append_pattern(buffer, 777);
  buffer.shrink_to_fit();
  EXPECT_EQ(buffer.capacity(), 777u);
  EXPECT_EQ(first_mismatch(buffer), 777u);

  ByteBuffer moved = std::move(buffer);
  EXPECT_TRUE(buffer.empty());
  EXPECT_EQ(buffer.data(), nullptr);
  EXPECT_EQ(first_mismatch(moved), 777u);

  moved.reserve(kLargeBlock);
  moved.shrink_to_fit();  // nothing beyond the bytes is kept, whatever the kind of block
  EXPECT_EQ(moved.capacity(), 777u);
  moved.clear();
  EXPECT_EQ(moved.capacity(), 0u);
}

TEST(ByteBuffer, AnEmptyBufferShrinksToNoStorage) {
  ByteBuffer buffer;
  buffer.reserve(kLargeBlock);
  buffer.shrink_to_fit();
  EXPECT_EQ(buffer.capacity(), 0u);
  EXPECT_EQ(buffer.data(), nullptr);
  EXPECT_TRUE(buffer.bytes().empty());
}

}  // namespace
}  // namespace paravox
