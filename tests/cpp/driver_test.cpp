#include "hwp/driver.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/error.h"
#include "base/inflate.h"
#include "record_writer.h"

namespace paravox {
namespace {

using records_test::click_here_header;
using records_test::ctrl_data_name;
using records_test::kClickHereCtrl;
using records_test::kDrawingCtrl;
using records_test::kEquationCtrl;
using records_test::kFootnoteCtrl;
using records_test::kTableCtrl;
using records_test::ParaChars;
using records_test::Payload;
using records_test::picture_payload;
using records_test::SectionWriter;

// Blocks as P[text] T[cells by row] E[script] I[caption], separated by spaces.
std::string dump(const std::vector<Block>& blocks) {
  std::string out;
  for (const Block& block : blocks) {
    if (!out.empty()) out += ' ';
    if (const auto* paragraph = std::get_if<Paragraph>(&block)) {
      out += "P[" + paragraph->text + "]";
    } else if (const auto* equation = std::get_if<Equation>(&block)) {
      out += "E[" + equation->script + "]";
    } else if (const auto* image = std::get_if<Image>(&block)) {
      out += "I[" + image->caption + "]";
    } else {
      out += "T[";
      for (const TableRow& row : std::get<Table>(block).rows) {
        out += '{';
        for (std::size_t c = 0; c < row.cells.size(); ++c) {
          if (c > 0) out += '|';
          out += row.cells[c].text;
        }
        out += '}';
      }
      out += "]";
    }
  }
  return out;
}

// Warnings as "damaged: message" or "too large: message", one a line.
std::string dump(const std::vector<Warning>& warnings) {
  std::string out;
  for (const Warning& warning : warnings) {
    out += warning.kind == WarningKind::TooLarge ? "too large: " : "damaged: ";
    out += warning.message + "\n";
  }
  return out;
}

// A paragraph with two click-here fields: "A", field "x", "B", field "y".
ParaChars two_fields() {
  return ParaChars()
      .text(u"A")
      .field_start()
      .text(u"x")
      .field_end()
      .text(u"B")
      .field_start()
      .text(u"y")
      .field_end()
      .paragraph_end();
}

void field_control(SectionWriter& w, std::uint16_t level, std::u16string_view name,
                   bool modified = true) {
  w.record(tag::kCtrlHeader, level, click_here_header(u"", modified));
  w.record(tag::kCtrlData, level + 1, ctrl_data_name(name));
}

TEST(WalkSection, OrdersBlocksAsTheRecordsCome) {
  struct Case {
    const char* name;
    std::function<void(SectionWriter&)> fixture;
    std::string blocks;
  };
  const std::vector<Case> cases = {
      {"no records", [](SectionWriter&) {}, ""},
      {"paragraphs at level 1",
       [](SectionWriter& w) { w.paragraph(1, u"one").paragraph(1, u"two"); }, "P[one] P[two]"},
      {"table anchored in the first of two paragraphs",
       [](SectionWriter& w) {
         w.paragraph(1, ParaChars().text(u"A").object_anchor(kTableCtrl).paragraph_end());
         w.table(1, {{u"c1", u"c2"}});
         w.paragraph(1, u"B");
       },
       "P[A] T[{c1|c2}] P[B]"},
      {"paragraph of spaces and line breaks yields nothing",
       [](SectionWriter& w) {
         w.paragraph(1, ParaChars().text(u"  ").control(10).text(u"\u3000").paragraph_end());
       },
       ""},
      {"outer white space stays in the block for assembly to trim",
       [](SectionWriter& w) { w.paragraph(1, u"  a b\u00A0"); }, "P[  a b\u00A0]"},
      {"PARA_TEXT at other levels is not decoded",
       [](SectionWriter& w) {
         w.paragraph(0, u"level 0").list_header(1).paragraph(2, u"level 2").paragraph(1, u"ok");
       },
       "P[ok]"},
      {"unknown control vanishes with its subtree",
       [](SectionWriter& w) {
         w.paragraph(1, u"text");
         w.ctrl(1, kFootnoteCtrl).list_header(2).paragraph(2, u"footnote");
         w.paragraph(1, u"next");
       },
       "P[text] P[next]"},
      {"control header of 3 bytes is skipped with its subtree",
       [](SectionWriter& w) {
         w.record(tag::kCtrlHeader, 1, Payload{0x20, 0x6C, 0x62});
         w.list_header(2).paragraph(2, u"hidden");
         w.paragraph(1, u"shown");
       },
       "P[shown]"},
      {"equation",
       [](SectionWriter& w) {
         w.paragraph(1, u"before");
         w.equation(1, u" a over b ");
         w.paragraph(1, u"after");
       },
       "P[before] E[ a over b ] P[after]"},
      {"equation of spaces keeps its block", [](SectionWriter& w) { w.equation(1, u" \u3000 "); },
       "E[ \u3000 ]"},
      {"equation without a script",
       [](SectionWriter& w) {
         w.ctrl(1, kEquationCtrl).record(tag::kEqEdit, 2, records_test::eqedit(u"", 0));
       },
       ""},
      {"picture with caption",
       [](SectionWriter& w) {
         w.ctrl(1, kDrawingCtrl).list_header(2).paragraph(2, u"Fig 1");
         w.record(tag::kShapeComponent, 2, Payload(40, 0));
         w.record(tag::kShapeComponentPicture, 3, picture_payload());
         w.paragraph(1, u"after");
       },
       "I[Fig 1] P[after]"},
      {"text box",
       [](SectionWriter& w) {
         w.ctrl(1, kDrawingCtrl).record(tag::kShapeComponent, 2, Payload(40, 0));
         w.list_header(3).paragraph(3, u"x").paragraph(3, u"y");
       },
       "P[x\ny]"},
      {"controls are dispatched at any level",
       [](SectionWriter& w) {
         w.list_header(1);
         w.table(3, {{u"deep"}});
       },
       "T[{deep}]"},
      {"control header as the last record", [](SectionWriter& w) { w.ctrl(1, kDrawingCtrl); }, ""},
  };
  for (const Case& c : cases) {
    SectionWriter w;
    c.fixture(w);
    const auto records = w.records();
    std::vector<Block> blocks;
    walk_section(records, blocks);
    EXPECT_EQ(dump(blocks), c.blocks) << c.name;
  }
}

TEST(WalkSection, AttachesClickHereFieldsAtLevelOne) {
  struct Case {
    const char* name;
    std::function<void(SectionWriter&)> fixture;
    std::string blocks;
  };
  const std::vector<Case> cases = {
      {"field with name and guide text",
       [](SectionWriter& w) {
         w.paragraph(
             1,
             ParaChars().text(u"Date: ").field_start().text(u"today").field_end().paragraph_end());
         w.record(tag::kCtrlHeader, 1, click_here_header(u"write the date", false));
         w.record(tag::kCtrlData, 2, ctrl_data_name(u"date"));
       },
       "P[Date: {{date: write the date --> today}}]"},
      {"two fields and three field controls: the third is skipped",
       [](SectionWriter& w) {
         w.paragraph(1, two_fields());
         field_control(w, 1, u"f1");
         field_control(w, 1, u"f2");
         field_control(w, 1, u"f3");
         w.paragraph(2, u"inside the third");
         w.paragraph(1, u"next");
       },
       "P[A{{f1 --> x}}B{{f2 --> y}}] P[next]"},
      {"one field control for two fields",
       [](SectionWriter& w) {
         w.paragraph(1, two_fields());
         field_control(w, 1, u"f1");
       },
       "P[A{{f1 --> x}}By]"},
      {"field control at level 2 is skipped and finishes the paragraph",
       [](SectionWriter& w) {
         w.paragraph(1, two_fields());
         field_control(w, 2, u"deep");
         field_control(w, 1, u"late");
       },
       "P[AxBy]"},
      {"field control after a table control is skipped",
       [](SectionWriter& w) {
         w.paragraph(1, two_fields());
         w.table(1, {{u"t"}});
         field_control(w, 1, u"late");
         w.paragraph(2, u"in its subtree");
       },
       "P[AxBy] T[{t}]"},
      {"field control without a paragraph is skipped",
       [](SectionWriter& w) {
         field_control(w, 1, u"alone");
         w.paragraph(2, u"subtree");
         w.paragraph(1, u"p");
       },
       "P[p]"},
      {"no CTRL_DATA: empty name, the walk goes on after the header",
       [](SectionWriter& w) {
         w.paragraph(1, two_fields());
         w.record(tag::kCtrlHeader, 1, click_here_header(u"", true));
         field_control(w, 1, u"second");
       },
       "P[A{{ --> x}}B{{second --> y}}]"},
      {"CTRL_DATA at the wrong level is not the name",
       [](SectionWriter& w) {
         w.paragraph(1, two_fields());
         w.record(tag::kCtrlHeader, 1, click_here_header(u"", true));
         w.record(tag::kCtrlData, 3, ctrl_data_name(u"wrong"));
       },
       "P[A{{ --> x}}By]"},
      {"records of the field's subtree are walked like others",
       [](SectionWriter& w) {
         w.paragraph(1, two_fields());
         field_control(w, 1, u"f1");
         w.record(tag::kListHeader, 2, Payload(8, 0));
         field_control(w, 1, u"f2");
       },
       "P[A{{f1 --> x}}B{{f2 --> y}}]"},
      {"short field header: empty guide text, modified clear",
       [](SectionWriter& w) {
         w.paragraph(1, two_fields());
         w.record(tag::kCtrlHeader, 1, records_test::ctrl_header(kClickHereCtrl));
         w.record(tag::kCtrlData, 2, ctrl_data_name(u"n"));
       },
       "P[A{{n}}By]"},
      {"paragraph without fields does not attach",
       [](SectionWriter& w) {
         w.paragraph(1, u"plain");
         field_control(w, 1, u"f");
         w.paragraph(1, u"next");
       },
       "P[plain] P[next]"},
  };
  for (const Case& c : cases) {
    SectionWriter w;
    c.fixture(w);
    const auto records = w.records();
    std::vector<Block> blocks;
    walk_section(records, blocks);
    EXPECT_EQ(dump(blocks), c.blocks) << c.name;
  }
}

TEST(WalkSection, PendingParagraphEndsWithItsSection) {
  SectionWriter first;
  first.paragraph(1, two_fields());
  SectionWriter second;
  field_control(second, 1, u"f1");
  second.paragraph(1, u"second");
  const auto first_records = first.records();
  const auto second_records = second.records();
  std::vector<Block> blocks;
  std::uint64_t output_size = 0;
  walk_section(first_records, blocks, output_size);
  walk_section(second_records, blocks, output_size);
  EXPECT_EQ(dump(blocks), "P[AxBy] P[second]");
  EXPECT_EQ(output_size, std::string("AxBy\n\nsecond\n\n").size());
}

TEST(WalkSection, StopsBeforeTheOutputWouldPassTheCeiling) {
  struct Case {
    std::u16string text;
    bool throws;
  };
  // Five bytes are left: "abc\n\n" fits exactly, "abcd\n\n" does not.
  const std::vector<Case> cases = {{u"abc", false}, {u"abcd", true}, {u" abc ", false}};
  for (const Case& c : cases) {
    SectionWriter w;
    w.paragraph(1, c.text);
    const auto records = w.records();
    std::vector<Block> blocks;
    std::uint64_t output_size = kOutputLimit - 5;
    if (c.throws) {
      EXPECT_THROW(walk_section(records, blocks, output_size), OutputLimitExceeded);
    } else {
      walk_section(records, blocks, output_size);
      EXPECT_EQ(output_size, kOutputLimit);
    }
  }
}

TEST(WalkSection, RefusesATableDeclaringBillionsOfCells) {
  SectionWriter w;
  w.ctrl(1, kTableCtrl).record(tag::kTable, 2, records_test::table_payload(65535, {65535}));
  const auto records = w.records();
  std::vector<Block> blocks;
  EXPECT_THROW(walk_section(records, blocks), OutputLimitExceeded);
}

// Raw DEFLATE of `head` then `tail`, a full flush between them so that the stream cut where
// `tail` begins still inflates to `head`; returns the stream and that cut.
std::pair<Payload, std::size_t> deflate_in_two(const Payload& head, const Payload& tail) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Payload out(deflateBound(&stream, head.size() + tail.size()) + 64);
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  std::size_t cut = 0;
  for (const auto& [part, flush] : {std::pair(&head, Z_FULL_FLUSH), std::pair(&tail, Z_FINISH)}) {
    stream.next_in = const_cast<Bytef*>(part->data());
    stream.avail_in = static_cast<uInt>(part->size());
    EXPECT_NE(deflate(&stream, flush), Z_STREAM_ERROR);
    if (flush == Z_FULL_FLUSH) cut = stream.total_out;
  }
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return {out, cut};
}

Result<Inflated> stored(Payload bytes) {
  ByteBuffer buffer;
  buffer.reserve(bytes.size());
  std::copy(bytes.begin(), bytes.end(), buffer.spare().begin());
  buffer.commit(bytes.size());
  return Inflated{std::move(buffer)};
}

TEST(ConvertSections, WarnsOfEachSectionReadInPart) {
  const Payload second_head = SectionWriter().paragraph(1, u"둘 가").bytes();
  const Payload second_tail = SectionWriter().paragraph(1, u"둘 나").bytes();
  const auto [deflated, cut] = deflate_in_two(second_head, second_tail);
  // The second paragraph's first record announces 22 bytes; 3 follow.
  Payload cut_record = second_head;
  cut_record.insert(cut_record.end(), second_tail.begin(), second_tail.begin() + 7);
  const std::string lost = "Text from /BodyText/Section1 on is missing: ";
  const std::string end_lost = "Text at the end of /BodyText/Section1 is missing: ";

  struct Case {
    const char* name;
    std::function<Result<Inflated>()> read_second;
    std::string markdown;
    std::vector<Warning> warnings;
  };
  const std::vector<Case> cases = {
      {"read whole",
       [&] { return inflate_raw_stream(deflated); },
       "하나\n\n둘 가\n\n둘 나\n\n셋",
       {}},
      {"missing: the end of the body",
       [] { return ConvertError::compound_file("No such stream", ErrorCause::MissingStream); },
       "하나",
       {}},
      {"corrupt compressed data",
       [] {
         return inflate_raw_stream(Payload{0x07, 0x00, 0x00, 0x00});
       },
       "하나",
       {{WarningKind::Damaged, lost + "Parse error: 압축 해제 실패: corrupt deflate stream"}}},
      {"past the ceiling",
       [] { return ConvertError::parse("inflated section too large", ErrorCause::OverCeiling); },
       "하나",
       {{WarningKind::TooLarge, lost + "Parse error: inflated section too large"}}},
      {"compressed data cut short",
       [&] { return inflate_raw_stream(Bytes(deflated).first(cut)); },
       "하나\n\n둘 가\n\n셋",
       {{WarningKind::Damaged, end_lost + "its compressed data ends before the last block"}}},
      {"last record cut short",
       [&] { return stored(cut_record); },
       "하나\n\n둘 가\n\n셋",
       {{WarningKind::Damaged, end_lost + "a record at byte " + std::to_string(second_head.size()) +
                                   " runs past the end of the section (" +
                                   std::to_string(cut_record.size()) + " bytes)"}}},
  };
  for (const Case& c : cases) {
    const Result<DocumentText> text = convert_sections(
        [&](const std::string& path) {
          if (path == "/BodyText/Section0")
            return stored(SectionWriter().paragraph(1, u"하나").bytes());
          if (path == "/BodyText/Section1") return c.read_second();
          if (path == "/BodyText/Section2")
            return stored(SectionWriter().paragraph(1, u"셋").bytes());
          return Result<Inflated>(
              ConvertError::compound_file("No such stream", ErrorCause::MissingStream));
        },
        Profile::Minimal);
    ASSERT_TRUE(text.ok()) << c.name;
    EXPECT_EQ(text.value().markdown, c.markdown) << c.name;
    EXPECT_EQ(dump(text.value().warnings), dump(c.warnings)) << c.name;
  }
}

}  // namespace
}  // namespace paravox
