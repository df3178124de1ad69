#include "hwp/section.h"
#include "base/inflate.h"

#include <algorithm>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace paravox {
namespace {

using Data = std::vector<std::uint8_t>;

constexpr const char* kCorrupt = "압축 해제 실패: corrupt deflate stream";
constexpr const char* kTooLarge = "압축 해제 실패: inflated section exceeds 268435456 bytes";

Data text(std::string_view s) {
  return Data(s.begin(), s.end());
}

Data concat(std::initializer_list<Data> parts) {
  Data out;
  for (const Data& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Data without_last(Data data, std::size_t count) {
  data.erase(data.end() - static_cast<std::ptrdiff_t>(count), data.end());
  return data;
}

// Text that compresses into dynamic-Huffman blocks with back references.
Data sample_text(std::size_t size, std::uint32_t seed = 7) {
  static const char* const kWords[] = {"section ", "record ", "paragraph ", "표 ",
                                       "문단 ",    "table\n", "cell ",      "field "};
  std::mt19937 random(seed);
  Data out;
  while (out.size() < size) {
    const std::string_view word = kWords[random() % 8];
    out.insert(out.end(), word.begin(), word.end());
  }
  out.resize(size);
  return out;
}

// Raw DEFLATE of `data` by zlib, one block per piece of `chunk` bytes (0: zlib's choice);
// a full flush ends each block on a byte boundary.
Data deflate_raw(const Data& data, std::size_t chunk = 0, int strategy = Z_DEFAULT_STRATEGY) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, strategy), Z_OK);
  Data out(deflateBound(&stream, data.size()) + 64 * (data.size() / (chunk ? chunk : 1) + 1));
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  std::size_t fed = 0;
  do {
    const std::size_t piece = chunk == 0 ? data.size() : std::min(chunk, data.size() - fed);
    stream.next_in = const_cast<Bytef*>(data.data() + fed);
    stream.avail_in = static_cast<uInt>(piece);
    fed += piece;
    const bool last = fed == data.size();
    EXPECT_NE(deflate(&stream, last ? Z_FINISH : Z_FULL_FLUSH), Z_STREAM_ERROR);
  } while (fed < data.size());
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// A stored block: header bits (final flag, type 00), LEN and NLEN, then the bytes.
Data stored_block(const Data& data, bool final, std::uint16_t nlen_xor = 0xFFFF) {
  const auto len = static_cast<std::uint16_t>(data.size());
  const auto nlen = static_cast<std::uint16_t>(len ^ nlen_xor);
  Data out{static_cast<std::uint8_t>(final ? 1 : 0), static_cast<std::uint8_t>(len & 0xFF),
           static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(nlen & 0xFF),
           static_cast<std::uint8_t>(nlen >> 8)};
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// Writes DEFLATE's bit stream: fields least significant bit first, Huffman codes most
// significant bit first.
class BitWriter {
 public:
  BitWriter& bits(std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) put((value >> i) & 1);
    return *this;
  }
  BitWriter& code(std::uint32_t value, int length) {
    for (int i = length - 1; i >= 0; --i) put((value >> i) & 1);
    return *this;
  }
  Data bytes() const { return out_; }

 private:
  void put(std::uint32_t bit) {
    if (used_ % 8 == 0) out_.push_back(0);
    out_.back() = static_cast<std::uint8_t>(out_.back() | (bit << (used_ % 8)));
    ++used_;
  }
  Data out_;
  int used_ = 0;
};

// "Result: <bytes as text>" or "Error: <message>", for comparing outcomes.
std::string outcome(const Result<ByteBuffer>& result) {
  if (!result) return "Error: " + result.error().text();
  const Bytes bytes = result.value().bytes();
  return "Result: " + std::string(bytes.begin(), bytes.end());
}

std::string outcome_of(const char* text) {
  return std::string("Result: ") + text;
}
std::string error_of(const char* text) {
  return std::string("Error: ") + text;
}

TEST(SectionStreamPath, AppendsTheNumberInDecimal) {
  struct Case {
    std::uint32_t index;
    const char* path;
  };
  const Case cases[] = {{0, "/BodyText/Section0"},
                        {9, "/BodyText/Section9"},
                        {10, "/BodyText/Section10"},
                        {4294967295u, "/BodyText/Section4294967295"}};
  for (const Case& c : cases) EXPECT_EQ(section_stream_path(c.index), c.path) << c.index;
}

TEST(InflateSection, DecodesOrRefuses) {
  const Data hello = text("hello, hello, hello world");
  struct Case {
    const char* name;
    Data input;
    std::string expected;
  };
  const Case cases[] = {
      {"empty input is an empty section", {}, outcome_of("")},
      {"whole stream", deflate_raw(hello), outcome_of("hello, hello, hello world")},
      {"bytes after the final block are ignored",
       concat({deflate_raw(hello), text("trailing junk")}),
       outcome_of("hello, hello, hello world")},
      {"a second stream after the first is ignored",
       concat({deflate_raw(hello), deflate_raw(text("other"))}),
       outcome_of("hello, hello, hello world")},
      {"final stored block", stored_block(text("stored"), true), outcome_of("stored")},
      {"stored blocks in sequence",
       concat({stored_block(text("ab"), false), stored_block(text("cd"), true)}),
       outcome_of("abcd")},
      {"input ending after a non-final block", stored_block(text("ab"), false), outcome_of("ab")},
      {"input ending inside a stored block", without_last(stored_block(text("abcdef"), true), 2),
       outcome_of("abcd")},
      {"input ending inside a block header", Data{0x01, 0x06}, outcome_of("")},
      {"reserved block type 3", Data{0x07, 0x00, 0x00}, error_of(kCorrupt)},
      {"reserved block type after a good block",
       concat({stored_block(text("ab"), false), Data{0x06, 0x00}}), error_of(kCorrupt)},
      {"stored length and complement disagree", stored_block(text("abcde"), true, 0x0000),
       error_of(kCorrupt)},
      {"distance before the start of the output",
       BitWriter().bits(1, 1).bits(1, 2).code(1, 7).code(0, 5).code(0, 7).bytes(),
       error_of(kCorrupt)},
      {"over-subscribed code length code",
       BitWriter()
           .bits(1, 1)
           .bits(2, 2)
           .bits(0, 5)
           .bits(0, 5)
           .bits(0, 4)
           .bits(1, 3)
           .bits(1, 3)
           .bits(1, 3)
           .bits(1, 3)
           .bytes(),
       error_of(kCorrupt)},
      {"end of block is the only code", BitWriter().bits(1, 1).bits(1, 2).code(0, 7).bytes(),
       outcome_of("")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(inflate_raw(c.input)), c.expected) << c.name;
  }
}

TEST(InflateSection, ErrorsAreParseErrors) {
  const auto result = inflate_raw(Data{0x07});
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind(), ErrorKind::Parse);
  EXPECT_EQ(result.error().message(), std::string("Parse error: ") + kCorrupt);
}

TEST(InflateSection, LargeSectionsRoundTrip) {
  for (const std::size_t size : {std::size_t{1}, std::size_t{70000}, std::size_t{3000000}}) {
    const Data data = sample_text(size);
    const auto result = inflate_raw(deflate_raw(data));
    ASSERT_TRUE(result.ok()) << size;
    EXPECT_TRUE(std::ranges::equal(result.value().bytes(), data)) << size;
  }
}

// Cutting a multi-block stream anywhere yields a prefix of the data, never an error, and a
// longer cut never yields less.
TEST(InflateSection, EveryTruncationYieldsAPrefix) {
  const Data data = sample_text(12000);
  const Data compressed = deflate_raw(data, 3000);
  std::size_t previous = 0;
  for (std::size_t length = 0; length <= compressed.size(); ++length) {
    const Bytes cut = Bytes(compressed).first(length);
    const auto result = inflate_raw(cut);
    ASSERT_TRUE(result.ok()) << "cut at " << length << ": " << result.error().text();
    const Bytes got = result.value().bytes();
    ASSERT_LE(got.size(), data.size());
    ASSERT_TRUE(std::equal(got.begin(), got.end(), data.begin())) << "cut at " << length;
    ASSERT_GE(got.size(), previous) << "cut at " << length;
    previous = got.size();
  }
  EXPECT_EQ(previous, data.size());
}

// Raw DEFLATE of `count` zero bytes and of `count + 1`, built in one pass with zlib's
// run-length strategy (a few hundred kilobytes for 256 MiB).
std::pair<Data, Data> compressed_zeros(std::size_t count) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_RLE), Z_OK);
  const Data zeros(1 << 20);
  Data body(1 << 20);
  std::size_t body_size = 0;
  auto pump = [&](z_stream& s, Data& out, std::size_t& used, std::size_t n, int flush) {
    s.next_in = const_cast<Bytef*>(zeros.data());
    s.avail_in = static_cast<uInt>(n);
    do {
      if (out.size() - used < 65536) out.resize(out.size() * 2);
      s.next_out = out.data() + used;
      s.avail_out = static_cast<uInt>(out.size() - used);
      deflate(&s, flush);
      used = out.size() - s.avail_out;
    } while (s.avail_in != 0 || s.avail_out == 0);
  };
  for (std::size_t left = count; left > 0;) {
    const std::size_t n = std::min(left, zeros.size());
    pump(stream, body, body_size, n, Z_NO_FLUSH);
    left -= n;
  }
  z_stream longer{};
  EXPECT_EQ(deflateCopy(&longer, &stream), Z_OK);
  Data exact = body;
  std::size_t exact_size = body_size;
  pump(stream, exact, exact_size, 0, Z_FINISH);
  exact.resize(exact_size);
  Data over = body;
  std::size_t over_size = body_size;
  pump(longer, over, over_size, 1, Z_FINISH);
  over.resize(over_size);
  deflateEnd(&stream);
  deflateEnd(&longer);
  return {exact, over};
}

TEST(InflateSection, OutputIsCappedAt256MiB) {
  const auto [exact, over] = compressed_zeros(kOutputLimit);

  const auto at_limit = inflate_raw(exact);
  ASSERT_TRUE(at_limit.ok()) << at_limit.error().text();
  EXPECT_EQ(at_limit.value().size(), kOutputLimit);
  EXPECT_EQ(std::ranges::count(at_limit.value().bytes(), 0),
            static_cast<std::ptrdiff_t>(kOutputLimit));

  const auto past_limit = inflate_raw(over);
  ASSERT_FALSE(past_limit.ok());
  EXPECT_EQ(past_limit.error().kind(), ErrorKind::Parse);
  EXPECT_EQ(past_limit.error().text(), kTooLarge);
}

}  // namespace
}  // namespace paravox
