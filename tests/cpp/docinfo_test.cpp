#include "hwp/docinfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "record_writer.h"
#include "styles_dump.h"

namespace paravox {
namespace {

using records_test::Payload;
using records_test::put_u16;
using records_test::put_u32;

void put_counted(Payload& out, std::u16string_view text) {
  put_u16(out, static_cast<std::uint16_t>(text.size()));
  records_test::put_units(out, text);
}

// A numbering or bullet level's head: properties (the number kind in bits 5-8), width
// adjustment, distance, character shape.
void put_head(Payload& out, NumberKind kind) {
  put_u32(out, 0x0Cu | (static_cast<std::uint32_t>(kind) << 5));
  put_u32(out, 50u << 16);
  put_u32(out, 0xFFFFFFFF);
}

// A paragraph shape of `size` bytes (42 to 58 in real documents): the head kind and the level
// (stopping at the seventh) in the property word, the numbering or bullet id at 30, the full
// level at 54 when the record reaches it.
Payload para_shape(HeadKind head, std::uint8_t level, std::uint16_t id, std::size_t size = 58) {
  Payload out;
  put_u32(out, 0x80u | (static_cast<std::uint32_t>(head) << 23) |
                   (std::min<std::uint32_t>(level, 6) << 25));
  out.resize(30, 0);
  put_u16(out, id);
  out.resize(54, 0);
  put_u32(out, level);
  out.resize(size);
  return out;
}

struct Level {
  std::u16string format;
  NumberKind kind = NumberKind::Digit;
  std::uint32_t start = 1;
};

// Seven levels as every version writes them; given ten, also the numbering's own start, the
// seven levels' starts, the three further levels and their starts.
Payload numbering(const std::vector<Level>& levels) {
  Payload out;
  const auto put_levels = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      put_head(out, levels[i].kind);
      put_counted(out, levels[i].format);
    }
  };
  put_levels(0, 7);
  if (levels.size() < 10) return out;
  put_u16(out, 0);
  for (std::size_t i = 0; i < 7; ++i) put_u32(out, levels[i].start);
  put_levels(7, 10);
  for (std::size_t i = 7; i < 10; ++i) put_u32(out, levels[i].start);
  return out;
}

Payload bullet(char16_t character) {
  Payload out;
  put_head(out, NumberKind::Digit);
  put_u16(out, static_cast<std::uint16_t>(character));
  return out;
}

// Name, English name, kind (1: a character style), next style, language, paragraph shape,
// character shape.
Payload style(std::u16string_view name, std::u16string_view english, std::uint16_t shape,
              bool character = false) {
  Payload out;
  put_counted(out, name);
  put_counted(out, english);
  out.push_back(character ? 1 : 0);
  out.push_back(0);
  put_u16(out, 1042);
  put_u16(out, shape);
  put_u32(out, 0);
  return out;
}

// Kind 1 (embedded) or 2 (stored) with compression, id and extension; kind 0 (a link) with
// two paths.
Payload bin_data(unsigned kind, unsigned compression, std::uint16_t id, std::u16string_view ext) {
  Payload out;
  put_u16(out, static_cast<std::uint16_t>(kind | (compression << 4)));
  if (kind == 0) {
    put_counted(out, u"C:\\pictures\\dog.png");
    put_counted(out, u"dog.png");
  } else {
    put_u16(out, id);
    put_counted(out, ext);
  }
  return out;
}

struct DocInfoRecord {
  std::uint16_t tag_id;
  Payload payload;
};

// Every kind of record the definitions come from, among records that are skipped.
std::vector<DocInfoRecord> sample_records() {
  std::vector<Level> ten(10);
  ten[0] = {u"^1."};
  ten[1] = {u"^1.^2.", NumberKind::HangulSyllable, 3};
  ten[2] = {u"(^3)", NumberKind::CircledDigit};
  ten[6] = {u"^7", NumberKind::RomanSmall, 2};
  ten[7] = {u"^8", NumberKind::CircledHangulJamo, 5};
  ten[9] = {u"^N", NumberKind::LatinCapital, 0};  // a start of 0 reads as 1
  return {
      {16, Payload(26, 1)},  // document properties
      {17, Payload(72, 9)},  // id mappings
      {tag::kBinData, bin_data(1, 0, 3, u"jpg")},
      {tag::kBinData, bin_data(0, 0, 0, u"")},
      {tag::kBinData, bin_data(2, 2, 0x1A, u"OLE")},
      {21, Payload(72, 0)},  // a character shape
      {tag::kNumbering, numbering(ten)},
      {tag::kNumbering, numbering(std::vector<Level>(7, {u"제^1장", NumberKind::Ideograph}))},
      {tag::kBullet, bullet(u'\uF06C')},
      {tag::kParaShape, para_shape(HeadKind::None, 0, 0, 46)},
      {tag::kParaShape, para_shape(HeadKind::Outline, 2, 0, 46)},
      {tag::kParaShape, para_shape(HeadKind::Outline, 8, 0)},
      {tag::kParaShape, para_shape(HeadKind::Number, 1, 2)},
      {tag::kParaShape, para_shape(HeadKind::Bullet, 0, 1, 54)},
      {tag::kStyle, style(u"바탕글", u"Normal", 0)},
      {tag::kStyle, style(u"머리말", u"Header", 2)},
      {tag::kStyle, style(u"개요 3", u"Outline 3", 0)},
      {tag::kStyle, style(u"Outline 9", u"", 3)},
      {tag::kStyle, style(u"개요 2", u"Outline 2", 1, true)},
      {27, Payload(8, 0)},  // document data
  };
}

Payload stream_of(const std::vector<DocInfoRecord>& records, std::size_t count) {
  records_test::SectionWriter writer;
  for (std::size_t i = 0; i < count; ++i) writer.record(records[i].tag_id, 1, records[i].payload);
  return writer.bytes();
}

TEST(DocInfo, ReadsTheDefinitionsInRecordOrder) {
  const std::vector<DocInfoRecord> records = sample_records();
  EXPECT_EQ(test::dump(read_docinfo(stream_of(records, records.size()))),
            "shape none level 0 id 0\n"
            "shape outline level 2 id 0\n"
            "shape outline level 8 id 0\n"
            "shape number level 1 id 2\n"
            "shape bullet level 0 id 1\n"
            "numbering ^1. 0 1|^1.^2. 8 3|(^3) 1 1| 0 1| 0 1| 0 1|^7 3 2|^8 11 5| 0 1|^N 4 1\n"
            "numbering 제^1장 13 1|제^1장 13 1|제^1장 13 1|제^1장 13 1|제^1장 13 1|제^1장 13 1|"
            "제^1장 13 1\n"
            "bullet \uF06C\n"
            "style 바탕글/Normal shape 0 outline 0\n"
            "style 머리말/Header shape 2 outline 9\n"
            "style 개요 3/Outline 3 shape 0 outline 3\n"
            "style Outline 9/ shape 3 outline 9\n"
            "style 개요 2/Outline 2 character shape 0 outline 0\n"
            "binary 3  kind 1 compression 0 jpg /BinData/BIN0003.jpg \n"
            "binary 0  kind 0 compression 0   \n"
            "binary 26  kind 2 compression 2 OLE /BinData/BIN001A.OLE \n");
}

// A stream cut at any length gives exactly the records that lie wholly before the cut.
TEST(DocInfo, AStreamCutAnywhereGivesTheWholeRecordsBeforeTheCut) {
  const std::vector<DocInfoRecord> records = sample_records();
  const Payload full = stream_of(records, records.size());
  std::size_t whole = 0;
  for (std::size_t cut = 0; cut <= full.size(); ++cut) {
    while (whole < records.size() && stream_of(records, whole + 1).size() <= cut) ++whole;
    const Payload prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
    ASSERT_EQ(test::dump(read_docinfo(prefix)), test::dump(read_docinfo(stream_of(records, whole))))
        << "cut at " << cut;
  }
}

// A record whose payload is cut short still takes its place: every other definition keeps
// its id and its value.
TEST(DocInfo, ARecordCutShortKeepsItsPlace) {
  const std::vector<DocInfoRecord> records = sample_records();
  const DocumentStyles full = read_docinfo(stream_of(records, records.size()));
  for (std::size_t damaged = 0; damaged < records.size(); ++damaged) {
    for (std::size_t size = 0; size < records[damaged].payload.size(); ++size) {
      std::vector<DocInfoRecord> cut = records;
      cut[damaged].payload.resize(size);
      DocumentStyles read = read_docinfo(stream_of(cut, cut.size()));
      // The damaged record is the n-th of its tag: put the whole one's reading in its place.
      std::size_t nth = 0;
      for (std::size_t i = 0; i < damaged; ++i) nth += records[i].tag_id == records[damaged].tag_id;
      const auto restore = [&](auto& got, const auto& whole, std::uint16_t tag_id) {
        if (tag_id == records[damaged].tag_id && nth < got.size()) got[nth] = whole[nth];
      };
      restore(read.para_shapes, full.para_shapes, tag::kParaShape);
      restore(read.numberings, full.numberings, tag::kNumbering);
      restore(read.bullets, full.bullets, tag::kBullet);
      restore(read.styles, full.styles, tag::kStyle);
      restore(read.binary_data, full.binary_data, tag::kBinData);
      // Styles take their outline levels from the shapes.
      if (records[damaged].tag_id == tag::kParaShape) read.styles = full.styles;
      ASSERT_EQ(test::dump(read), test::dump(full)) << "record " << damaged << " cut to " << size;
    }
  }
}

}  // namespace
}  // namespace paravox
