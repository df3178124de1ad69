#include "hwp/table.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/error.h"
#include "record_writer.h"

namespace paravox {
namespace {

using records_test::click_here_header;
using records_test::ctrl_data_name;
using records_test::ctrl_header;
using records_test::eqedit;
using records_test::kClickHereCtrl;
using records_test::kDrawingCtrl;
using records_test::kEquationCtrl;
using records_test::kFootnoteCtrl;
using records_test::kTableCtrl;
using records_test::ParaChars;
using records_test::Payload;
using records_test::SectionWriter;
using records_test::table_payload;

// Rows as {cell|cell|~k}, where ~k counts trailing empty cells that are not stored, and +r
// for trailing empty rows that are not stored.
std::string dump(const std::optional<Table>& table) {
  if (!table) return "none";
  std::string out;
  for (const TableRow& row : table->rows) {
    out += '{';
    for (std::size_t c = 0; c < row.cells.size(); ++c) {
      if (c > 0) out += '|';
      out += row.cells[c].text;
    }
    if (row.trailing_empty_cells > 0) {
      if (!row.cells.empty()) out += '|';
      out += '~' + std::to_string(row.trailing_empty_cells);
    }
    out += '}';
  }
  if (table->trailing_empty_rows > 0) out += '+' + std::to_string(table->trailing_empty_rows);
  return out;
}

// Writes the records after a table control header at level 1 (record 0); convert_table
// starts at index 1. Cells sit at level 2.
using Fixture = std::function<void(SectionWriter&)>;

void cell(SectionWriter& w, std::initializer_list<std::u16string_view> paragraphs) {
  w.list_header(2);
  for (const auto text : paragraphs) w.paragraph(2, text);
}

TEST(ConvertTable, CellsFollowRecordOrder) {
  struct Case {
    const char* name;
    Fixture fixture;
    std::string table;
    std::size_t consumed;
  };
  const std::vector<Case> cases = {
      {"2 x 2, one paragraph per cell",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({2, 2}));
         cell(w, {u"a"});
         cell(w, {u"b"});
         cell(w, {u"c"});
         cell(w, {u"d"});
         w.paragraph(0, u"after");
       },
       "{a|b}{c|d}", 13},
      {"paragraphs of a cell joined by one space, blank ones add nothing",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({2}));
         cell(w, {u"a", u"  ", u" b "});
         cell(w, {u"", u"\u3000"});
       },
       "{a b|}", 13},
      {"merged row keeps its own cell count",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({3, 1, 3}));
         for (const auto text : {u"a", u"b", u"c", u"wide", u"d", u"e", u"f"}) cell(w, {text});
       },
       "{a|b|c}{wide}{d|e|f}", 22},
      {"row with no declared cells",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1, 0, 1}));
         cell(w, {u"a"});
         cell(w, {u"b"});
       },
       "{a}{}{b}", 7},
      {"18-byte payload: declared rows without counts are empty",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload(2, {}));
         cell(w, {u"dropped"});
       },
       "+2", 4},
      {"counts present for some rows only",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload(3, {1}));
         cell(w, {u"a"});
       },
       "{a}+2", 4},
      {"fewer cell records than declared: the rest are empty",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({3}));
         cell(w, {u"a"});
         cell(w, {u"b"});
         w.paragraph(1, u"sibling");
       },
       "{a|b|~1}", 7},
      {"cell records run out in an earlier row",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({2, 2, 0, 1}));
         cell(w, {u"a"});
       },
       "{a|~1}{~2}{}{~1}", 4},
      {"more cell records than declared are dropped",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         cell(w, {u"a"});
         cell(w, {u"extra"});
         w.paragraph(0, u"after");
       },
       "{a}", 7},
      {"records before the TABLE record are passed over",
       [](SectionWriter& w) {
         w.list_header(2).paragraph(2, u"caption").record(tag::kTable, 3, table_payload({9}));
         w.record(tag::kTable, 2, table_payload({1}));
         cell(w, {u"a"});
       },
       "{a}", 8},
      {"cell records at a deeper level do not start cells",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({2}));
         cell(w, {u"a"});
         w.list_header(3).paragraph(3, u"b");
       },
       "{a b|~1}", 7},
      {"paragraph text at any level inside the cell",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).paragraph(5, u"deep");
       },
       "{deep}", 4},
      {"row count 0: no table, control consumed",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({}));
         cell(w, {u"a"});
         w.paragraph(0, u"after");
       },
       "none", 4},
      {"TABLE payload of 17 bytes: only records through it are consumed",
       [](SectionWriter& w) {
         w.list_header(2).record(tag::kTable, 2, Payload(17, 0));
         cell(w, {u"a"});
       },
       "none", 2},
      {"no TABLE record at the child level",
       [](SectionWriter& w) {
         w.record(tag::kTable, 3, table_payload({1}));
         cell(w, {u"a"});
         w.paragraph(1, u"sibling");
       },
       "none", 4},
      {"control is the last record", [](SectionWriter&) {}, "none", 0},
  };
  for (const Case& c : cases) {
    SectionWriter w;
    w.ctrl(1, kTableCtrl);
    c.fixture(w);
    const auto records = w.records();
    const TableResult result = convert_table(records, 1, 1, 0);
    EXPECT_EQ(dump(result.table), c.table) << c.name;
    EXPECT_EQ(result.consumed, c.consumed) << c.name;
  }
}

// A table control at `level` with one row of `cells` cells; each cell's content is written
// by `content`, which gets the writer and the cell's level.
void one_row_table(SectionWriter& w, std::uint16_t level, int cells,
                   const std::function<void(SectionWriter&, std::uint16_t, int)>& content) {
  const auto child = static_cast<std::uint16_t>(level + 1);
  w.ctrl(level, kTableCtrl);
  w.record(tag::kTable, child, table_payload({static_cast<std::uint16_t>(cells)}));
  for (int c = 0; c < cells; ++c) {
    w.list_header(child);
    content(w, child, c);
  }
}

TEST(ConvertTable, ControlsInsideCells) {
  struct Case {
    const char* name;
    Fixture fixture;
    std::string table;
  };
  const std::vector<Case> cases = {
      {"nested table folded after the paragraph that anchors it",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).paragraph(
             2, ParaChars().text(u"x ").object_anchor(kTableCtrl).text(u"y").paragraph_end());
         w.table(2, {{u"a", u""}, {u"c", u"d"}});
       },
       "{x y a c d}"},
      {"paragraph after a nested table",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({2}));
         w.list_header(2);
         w.table(2, {{u"in"}});
         w.paragraph(2, u"out");
         cell(w, {u"next"});
       },
       "{in out|next}"},
      {"nested table without text adds no space",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).paragraph(2, u"x");
         w.table(2, {{u"", u" "}});
         w.paragraph(2, u"y");
       },
       "{x y}"},
      {"nested table with a short TABLE record: its cells read as this cell's paragraphs",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).ctrl(2, kTableCtrl).record(tag::kTable, 3, Payload(10, 0));
         w.list_header(3).paragraph(3, u"inner");
       },
       "{inner}"},
      {"equation inside a cell is dropped with its records",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({2}));
         w.list_header(2).paragraph(2, u"before");
         w.ctrl(2, kEquationCtrl).record(tag::kEqEdit, 3, eqedit(u"x+y"));
         w.paragraph(3, u"equation caption");
         w.paragraph(2, u"after");
         cell(w, {u"b"});
       },
       "{before after|b}"},
      {"drawing object inside a cell is skipped with its text",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).paragraph(2, u"a");
         w.ctrl(2, kDrawingCtrl).record(tag::kShapeComponent, 3, Payload(40, 0));
         w.list_header(4).paragraph(4, u"text box");
         w.paragraph(2, u"b");
       },
       "{a b}"},
      {"control header of 3 bytes is skipped with its subtree",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).paragraph(2, u"a");
         w.record(tag::kCtrlHeader, 2, Payload{0x20, 0x6C, 0x62});
         w.list_header(3).paragraph(3, u"hidden");
         w.paragraph(2, u"b");
       },
       "{a b}"},
      {"click-here field rendered in the cell",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).paragraph(
             2, ParaChars().text(u"Name: ").field_start().text(u"Kim").field_end().paragraph_end());
         w.record(tag::kCtrlHeader, 2, click_here_header(u"enter name", true));
         w.record(tag::kCtrlData, 3, ctrl_data_name(u"who"));
       },
       "{Name: {{who: enter name --> Kim}}}"},
      {"paragraph without fields after one with a field, in one cell",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({2}));
         w.list_header(2).paragraph(
             2, ParaChars().field_start().text(u"v").field_end().paragraph_end());
         w.record(tag::kCtrlHeader, 2, click_here_header(u"", true));
         w.record(tag::kCtrlData, 3, ctrl_data_name(u"f"));
         w.paragraph(2, u" plain ");
         cell(w, {u"next"});
       },
       "{{{f --> v}} plain|next}"},
      {"paragraph with a field after one without, in one cell",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).paragraph(2, u"plain");
         w.paragraph(2, ParaChars().field_start().text(u"v").field_end().paragraph_end());
         w.record(tag::kCtrlHeader, 2, click_here_header(u"", true));
         w.record(tag::kCtrlData, 3, ctrl_data_name(u"f"));
         w.paragraph(2, u"last");
       },
       "{plain {{f --> v}} last}"},
      {"click-here field header deeper in the cell still attaches",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).paragraph(
             2, ParaChars().field_start().text(u"v").field_end().paragraph_end());
         w.record(tag::kCtrlHeader, 4, click_here_header(u"", true));
         w.record(tag::kCtrlData, 5, ctrl_data_name(u"deep"));
       },
       "{{{deep --> v}}}"},
      {"field name at the wrong level is not read and stays ignored",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).paragraph(
             2, ParaChars().field_start().text(u"v").field_end().paragraph_end());
         w.record(tag::kCtrlHeader, 2, click_here_header(u"", true));
         w.record(tag::kCtrlData, 4, ctrl_data_name(u"lost"));
       },
       "{{{ --> v}}}"},
      {"field controls beyond the paragraph's fields are skipped",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).paragraph(
             2, ParaChars().field_start().text(u"v").field_end().paragraph_end());
         w.record(tag::kCtrlHeader, 2, click_here_header(u"", true));
         w.record(tag::kCtrlData, 3, ctrl_data_name(u"one"));
         w.record(tag::kCtrlHeader, 2, click_here_header(u"", true));
         w.record(tag::kCtrlData, 3, ctrl_data_name(u"two"));
         w.paragraph(3, u"in skipped subtree");
         w.paragraph(2, u"after");
       },
       "{{{one --> v}} after}"},
      {"field control after a nested table no longer attaches",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).paragraph(
             2, ParaChars().field_start().text(u"v").field_end().paragraph_end());
         w.table(2, {{u"t"}});
         w.record(tag::kCtrlHeader, 2, click_here_header(u"", true));
         w.record(tag::kCtrlData, 3, ctrl_data_name(u"late"));
       },
       "{v t}"},
      {"field control with no paragraph pending is skipped",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2);
         w.record(tag::kCtrlHeader, 2, click_here_header(u"", true));
         w.paragraph(3, u"skipped");
         w.paragraph(2, u"kept");
       },
       "{kept}"},
      {"unread CTRL_DATA is ignored",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).paragraph(2, u"a");
         w.record(tag::kCtrlData, 2, ctrl_data_name(u"stray"));
       },
       "{a}"},
      {"other controls are skipped",
       [](SectionWriter& w) {
         w.record(tag::kTable, 2, table_payload({1}));
         w.list_header(2).paragraph(2, u"a");
         w.ctrl(2, kFootnoteCtrl).list_header(3).paragraph(3, u"note");
       },
       "{a}"},
  };
  for (const Case& c : cases) {
    SectionWriter w;
    w.ctrl(1, kTableCtrl);
    c.fixture(w);
    w.paragraph(0, u"after the table");
    const auto records = w.records();
    const TableResult result = convert_table(records, 1, 1, 0);
    EXPECT_EQ(dump(result.table), c.table) << c.name;
    // Every record of the control is consumed, up to the paragraph after it.
    EXPECT_EQ(result.consumed, records.size() - 3) << c.name;
  }
}

// Tables nested `levels` deep, each a single cell holding "t<depth>" and the next table.
void nested_tables(SectionWriter& w, std::uint16_t level, int depth, int levels) {
  one_row_table(w, level, 1, [&](SectionWriter& writer, std::uint16_t child, int) {
    const std::u16string text = u"t" + std::u16string(1, static_cast<char16_t>(u'0' + depth));
    writer.paragraph(child, text);
    if (depth + 1 < levels) nested_tables(writer, child, depth + 1, levels);
  });
}

TEST(ConvertTable, NestingDepth) {
  struct Case {
    int levels;
    unsigned start_depth;
    std::string table;
  };
  const std::vector<Case> cases = {
      {2, 0, "{t0 t1}"},       {4, 0, "{t0 t1 t2 t3}"},
      {5, 0, "{t0 t1 t2 t3}"},  // a table inside a depth-3 table is skipped
      {3, 2, "{t0 t1}"},        // started at depth 2, only one nested level converts
      {2, 3, "{t0}"},
  };
  for (const Case& c : cases) {
    SectionWriter w;
    nested_tables(w, 1, 0, c.levels);
    w.paragraph(0, u"after");
    const auto records = w.records();
    const TableResult result = convert_table(records, 1, 1, c.start_depth);
    EXPECT_EQ(dump(result.table), c.table) << c.levels << " levels from depth " << c.start_depth;
    EXPECT_EQ(result.consumed, records.size() - 3);
  }
}

TEST(ConvertTable, DeclaredSizeDoesNotAllocateCells) {
  // 20 bytes: 65,535 rows declared, the first with 65,535 cells, no cell records at all.
  SectionWriter w;
  w.ctrl(1, kTableCtrl).record(tag::kTable, 2, table_payload(65535, {65535}));
  const auto records = w.records();
  const TableResult result = convert_table(records, 1, 1, 0);
  ASSERT_TRUE(result.table);
  EXPECT_EQ(dump(result.table), "{~65535}+65534");
  EXPECT_EQ(result.table->row_count(), 65535u);
  EXPECT_EQ(result.table->rows.front().cell_count(), 65535u);
  EXPECT_EQ(result.table->rows.front().cells.capacity(), 0u);
}

}  // namespace
}  // namespace paravox
