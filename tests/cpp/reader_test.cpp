#include "hwp/records.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "record_writer.h"

namespace paravox {
namespace {

using records_test::Payload;
using records_test::put_u32;
using records_test::SectionWriter;

// "tag level size;" per record.
std::string dump(Records records) {
  std::string out;
  for (const Record& record : records) {
    out += std::to_string(record.tag_id) + " " + std::to_string(record.level) + " " +
           std::to_string(record.size()) + ";";
  }
  return out;
}

// A record header word as stored: tag, level and a 12-bit size.
std::uint32_t header_word(std::uint32_t tag_id, std::uint32_t level, std::uint32_t size_field) {
  return tag_id | (level << 10) | (size_field << 20);
}

// Raw bytes: header words and payload bytes appended in order.
class ByteWriter {
 public:
  ByteWriter& word(std::uint32_t value) {
    put_u32(bytes_, value);
    return *this;
  }
  ByteWriter& bytes(std::size_t count, std::uint8_t value = 0xAB) {
    bytes_.insert(bytes_.end(), count, value);
    return *this;
  }
  ByteWriter& raw(std::initializer_list<std::uint8_t> values) {
    bytes_.insert(bytes_.end(), values);
    return *this;
  }
  const Payload& get() const { return bytes_; }

 private:
  Payload bytes_;
};

TEST(ParseRecords, SplitsHeadersAndPayloads) {
  struct Case {
    const char* name;
    Payload bytes;
    const char* expected;
  };
  const Case cases[] = {
      {"empty", {}, ""},
      {"one byte", ByteWriter().raw({0x43}).get(), ""},
      {"three bytes", ByteWriter().raw({0x43, 0x04, 0x10}).get(), ""},
      {"header without its payload byte", ByteWriter().raw({0x43, 0x04, 0x10, 0x00}).get(), ""},
      {"header with its payload byte", ByteWriter().raw({0x43, 0x04, 0x10, 0x00, 0x7F}).get(),
       "67 1 1;"},
      {"empty payload", ByteWriter().raw({0x42, 0x00, 0x00, 0x00}).get(), "66 0 0;"},
      {"two empty payloads", ByteWriter().raw({0x42, 0, 0, 0, 0x42, 0, 0, 0}).get(),
       "66 0 0;66 0 0;"},
      {"extended size", ByteWriter().word(header_word(67, 2, 0xFFF)).word(5).bytes(5).get(),
       "67 2 5;"},
      {"extended size below 4095 is taken as stored",
       ByteWriter().word(header_word(67, 2, 0xFFF)).word(0).word(header_word(66, 0, 0)).get(),
       "67 2 0;66 0 0;"},
      {"extended header with no size word", ByteWriter().word(header_word(67, 0, 0xFFF)).get(), ""},
      {"extended header with three bytes of size word",
       ByteWriter().word(header_word(67, 0, 0xFFF)).bytes(3).get(), ""},
      {"extended size past the end",
       ByteWriter().word(header_word(67, 0, 0xFFF)).word(6).bytes(5).get(), ""},
      {"extended size of 2^32-1",
       ByteWriter().word(header_word(67, 0, 0xFFF)).word(0xFFFFFFFF).get(), ""},
      {"record then three stray bytes",
       ByteWriter().word(header_word(66, 0, 2)).bytes(2).bytes(3).get(), "66 0 2;"},
      {"record then an incomplete record",
       ByteWriter().word(header_word(66, 0, 2)).bytes(2).word(header_word(67, 1, 9)).bytes(8).get(),
       "66 0 2;"},
      {"record declared past the end keeps earlier ones",
       ByteWriter()
           .word(header_word(66, 0, 0))
           .word(header_word(67, 1, 1))
           .bytes(1)
           .word(header_word(68, 1, 4095 - 1))
           .bytes(100)
           .get(),
       "66 0 0;67 1 1;"},
      {"largest tag and level", ByteWriter().word(header_word(1023, 1023, 0)).get(),
       "1023 1023 0;"},
      {"tag and level bits kept apart",
       ByteWriter().word(header_word(0, 1023, 0)).word(header_word(1023, 0, 0)).get(),
       "0 1023 0;1023 0 0;"},
      {"largest 12-bit size below the extension",
       ByteWriter().word(header_word(7, 3, 4094)).bytes(4094).get(), "7 3 4094;"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(dump(parse_records(c.bytes)), c.expected) << c.name;
  }
}

TEST(ParseRecords, PayloadsViewTheBytesAfterTheirHeaders) {
  const Payload bytes = ByteWriter()
                            .word(header_word(66, 0, 2))
                            .raw({1, 2})
                            .word(header_word(67, 1, 0xFFF))
                            .word(3)
                            .raw({7, 8, 9})
                            .get();
  const RecordList records = parse_records(bytes);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].data().data(), bytes.data() + 4);
  EXPECT_EQ(Payload(records[0].data().begin(), records[0].data().end()), (Payload{1, 2}));
  // An extended header's payload starts 8 bytes after the record.
  EXPECT_EQ(records[1].data().data(), bytes.data() + 14);
  EXPECT_EQ(Payload(records[1].data().begin(), records[1].data().end()), (Payload{7, 8, 9}));
}

// Every prefix of a valid stream gives exactly the records that end within the prefix.
TEST(ParseRecords, EveryTruncatedPrefixKeepsOnlyWholeRecords) {
  SectionWriter writer;
  writer.record(66, 0, Payload(22, 1))
      .record(67, 1, Payload(5, 2))
      .record(71, 1)
      .record(72, 2, Payload(4200, 3))  // extended size
      .record(77, 3, Payload(1, 4))
      .record(88, 2, Payload(4095, 5));  // exactly 4095 needs the extension too
  const Payload& whole = writer.bytes();
  const RecordList all = parse_records(whole);
  ASSERT_EQ(dump(all), "66 0 22;67 1 5;71 1 0;72 2 4200;77 3 1;88 2 4095;");

  std::vector<std::size_t> ends;
  for (const Record& record : all) {
    ends.push_back(static_cast<std::size_t>(record.data().data() - whole.data()) +
                   record.data().size());
  }
  ASSERT_EQ(ends.back(), whole.size());

  for (std::size_t length = 0; length <= whole.size(); ++length) {
    const RecordList got = parse_records(Bytes(whole).first(length));
    std::size_t complete = 0;
    while (complete < ends.size() && ends[complete] <= length) ++complete;
    ASSERT_EQ(got.size(), complete) << "prefix of " << length << " bytes";
    for (std::size_t i = 0; i < complete; ++i) {
      ASSERT_EQ(got[i].tag_id, all[i].tag_id);
      ASSERT_EQ(got[i].level, all[i].level);
      ASSERT_EQ(got[i].data().data(), all[i].data().data());
      ASSERT_EQ(got[i].data().size(), all[i].data().size());
    }
  }
}

// Sections of header-only records, the densest there are: small ones get room for the most
// records they could hold, larger ones start with room for a quarter of that and grow, from
// the heap into a mapped block past 2 MiB. Each size must give every record, in order, and
// nothing after a cut-short header.
TEST(ParseRecords, ListsOfEverySizeHoldEveryRecord) {
  for (const std::size_t count :
       {std::size_t{16383}, std::size_t{16384}, std::size_t{16385}, std::size_t{200000}}) {
    ByteWriter writer;
    for (std::size_t i = 0; i < count; ++i) {
      writer.word(header_word(static_cast<std::uint16_t>(i % 1024),
                              static_cast<std::uint16_t>((i / 1024) % 1024), 0));
    }
    writer.raw({0xAB, 0xCD});  // a header cut short
    const Payload bytes = writer.get();
    RecordList records = parse_records(bytes);
    ASSERT_EQ(records.size(), count);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < count; ++i) {
      wrong += records[i].tag_id != i % 1024 || records[i].level != (i / 1024) % 1024 ||
               records[i].data().data() != bytes.data() + 4 * (i + 1) || records[i].size() != 0;
    }
    EXPECT_EQ(wrong, 0u) << count;
    const RecordList moved = std::move(records);
    EXPECT_EQ(moved.size(), count);
    EXPECT_TRUE(records.empty());
  }
  EXPECT_TRUE(parse_records(Payload{1, 2, 3}).empty());
}

}  // namespace
}  // namespace paravox
