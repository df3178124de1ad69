#include "hwp/docinfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "docinfo_writer.h"
#include "styles_dump.h"

namespace paravox {
namespace {

using records_test::Payload;

struct DocInfoRecord {
  std::uint16_t tag_id;
  Payload payload;
};

// One record of every kind the definitions come from, as the word processor writes them,
// among records that are skipped.
std::vector<DocInfoRecord> sample_records() {
  using namespace records_test;
  std::vector<LevelSpec> ten = {{u"^1.", NumberKind::Digit, 1},
                                {u"^1.^2.", NumberKind::HangulSyllable, 3},
                                {u"(^3)", NumberKind::CircledDigit, 1},
                                {u"", NumberKind::Digit, 1},
                                {u"", NumberKind::Digit, 1},
                                {u"", NumberKind::Digit, 1},
                                {u"^7", NumberKind::RomanSmall, 2},
                                {u"^8", NumberKind::CircledHangulJamo, 5},
                                {u"", NumberKind::Digit, 1},
                                {u"^N", NumberKind::LatinCapital, 0}};
  std::vector<LevelSpec> seven(7, LevelSpec{u"제^1장", NumberKind::Ideograph, 1});
  return {
      {16, Payload(26, 1)},  // document properties
      {17, Payload(72, 9)},  // id mappings
      {tag::kBinData, bin_data_payload(1, 0, 3, u"jpg")},
      {tag::kBinData, bin_data_payload(0, 0, 0, u"")},
      {tag::kBinData, bin_data_payload(2, 2, 0x1A, u"OLE")},
      {21, Payload(72, 0)},  // a character shape
      {tag::kNumbering, numbering_payload(ten)},
      {tag::kNumbering, numbering_payload(seven)},
      {tag::kBullet, bullet_payload(u'\uF06C')},
      {tag::kParaShape, para_shape_payload(HeadKind::None, 0, 0, 46)},
      {tag::kParaShape, para_shape_payload(HeadKind::Outline, 2, 0, 46)},
      {tag::kParaShape, para_shape_payload(HeadKind::Outline, 8, 0)},
      {tag::kParaShape, para_shape_payload(HeadKind::Number, 1, 2)},
      {tag::kParaShape, para_shape_payload(HeadKind::Bullet, 0, 1, 54)},
      {tag::kStyle, style_payload(u"바탕글", u"Normal", 0)},
      {tag::kStyle, style_payload(u"머리말", u"Header", 2)},
      {tag::kStyle, style_payload(u"개요 3", u"Outline 3", 0)},
      {tag::kStyle, style_payload(u"Outline 9", u"", 3)},
      {tag::kStyle, style_payload(u"개요 2", u"Outline 2", 1, true)},
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
  std::vector<std::size_t> ends;
  for (std::size_t count = 0; count <= records.size(); ++count) {
    ends.push_back(stream_of(records, count).size());
  }
  std::size_t whole = 0;
  for (std::size_t cut = 0; cut <= full.size(); ++cut) {
    while (whole + 1 < ends.size() && ends[whole + 1] <= cut) ++whole;
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
      const DocumentStyles read = read_docinfo(stream_of(cut, cut.size()));
      ASSERT_EQ(read.para_shapes.size(), full.para_shapes.size());
      ASSERT_EQ(read.numberings.size(), full.numberings.size());
      ASSERT_EQ(read.bullets.size(), full.bullets.size());
      ASSERT_EQ(read.styles.size(), full.styles.size());
      ASSERT_EQ(read.binary_data.size(), full.binary_data.size());
      // The damaged record is the n-th of its tag; all the others read as before.
      std::size_t nth = 0;
      for (std::size_t i = 0; i < damaged; ++i) nth += records[i].tag_id == records[damaged].tag_id;
      const auto same_except = [&](const auto& got, const auto& want, std::uint16_t tag_id) {
        for (std::size_t i = 0; i < want.size(); ++i) {
          if (tag_id == records[damaged].tag_id && i == nth) continue;
          EXPECT_EQ(test::dump(got[i]), test::dump(want[i]))
              << "record " << damaged << " cut to " << size;
        }
      };
      same_except(read.para_shapes, full.para_shapes, tag::kParaShape);
      same_except(read.numberings, full.numberings, tag::kNumbering);
      same_except(read.binary_data, full.binary_data, tag::kBinData);
    }
  }
}

}  // namespace
}  // namespace paravox
