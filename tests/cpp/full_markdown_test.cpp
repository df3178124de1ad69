#include "document/full_markdown.h"

#include <gtest/gtest.h>

#include <string>

namespace paravox {
namespace {

// A one-table document: a pipe table of `text` and "b", or (`merged`) an HTML table whose first
// row is `text` across two columns.
model::Document table_of(const std::string& text, bool merged) {
  model::Table table;
  table.row_count = merged ? 2 : 1;
  table.column_count = 2;
  const auto add = [&table, merged](std::uint16_t row, std::uint16_t column, std::string content) {
    model::Cell& cell = table.cells.emplace_back();
    cell.row = cell.listed_row = row;
    cell.column = column;
    cell.column_span = merged && row == 0 ? 2 : 1;
    std::get<model::Paragraph>(cell.blocks.emplace_back()).text = std::move(content);
  };
  add(0, 0, text);
  add(merged ? 1 : 0, merged ? 0 : 1, "b");
  if (merged) add(1, 1, "c");
  model::Document document;
  document.body.emplace_back(std::move(table));
  return document;
}

// Cell text is looked into many bytes at a time: a byte to escape is found wherever it stands
// (first, last, either side of a 16-byte boundary, in the last bytes that overlap those looked
// at before), and text without one is written as it is.
TEST(RenderMarkdown, EscapesCellTextWhereverTheByteStands) {
  const struct {
    char special;
    std::string pipe, html;  // as each form writes it
  } kSpecials[] = {{'|', "\\|", "|"},
                   {'\n', "<br>", "<br>"},
                   {'<', "<", "&lt;"},
                   {'&', "&", "&amp;"},
                   {'>', ">", "&gt;"}};
  for (const std::size_t length : {1, 8, 15, 16, 17, 31, 32, 33, 40}) {
    for (const auto& special : kSpecials) {
      for (const std::size_t place :
           {length, std::size_t{0}, length - 1, length / 2, length - 17, std::size_t{16}}) {
        if (place > length) continue;  // length - 17 below 17
        std::string text(length, 'x'), pipe, html;
        if (place < length) text[place] = special.special;
        for (const char c : text) {
          pipe += c == special.special ? special.pipe : std::string(1, c);
          html += c == special.special ? special.html : std::string(1, c);
        }
        SCOPED_TRACE(testing::Message() << "length " << length << " place " << place);
        EXPECT_EQ(render_markdown(table_of(text, false), 0, {}, false),
                  "|" + pipe + "|b|\n|---|---|");
        EXPECT_EQ(render_markdown(table_of(text, true), 0, {}, false),
                  "<table><tr><td colspan=\"2\">" + html +
                      "</td></tr><tr><td>b</td><td>c</td></tr></table>");
      }
    }
  }
}

}  // namespace
}  // namespace paravox
