#include "document/markdown.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/error.h"

namespace paravox {
namespace {

TableRow row_of(std::initializer_list<const char*> texts, std::uint32_t trailing_empty = 0) {
  TableRow row;
  for (const char* text : texts) row.cells.push_back({text});
  row.trailing_empty_cells = trailing_empty;
  return row;
}

TEST(EscapeCellText, EscapesBarsAndFlattensLineFeeds) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a|b", "a\\|b"},
      {"x\ny", "x y"},
      {"|\n|", "\\| \\|"},
      {"ends in \\", "ends in \\"},
      {"\\|", "\\\\|"},
      {"tab\there\rcr *em* _u_", "tab\there\rcr *em* _u_"},
      {"  spaced  ", "  spaced  "},
      {"", ""},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(escape_cell_text(text), expected) << text;
}

TEST(RenderTable, WritesPipeTables) {
  struct Case {
    const char* name;
    Table table;
    std::string markdown;
  };
  const std::vector<Case> cases = {
      {"example", Table{{row_of({"Name", "Qty"}), row_of({"a|b", "2"}), row_of({"c"})}},
       "|Name|Qty|\n|---|---|\n|a\\|b|2|\n|c||\n\n"},
      {"one row", Table{{row_of({"h1", "h2"})}}, "|h1|h2|\n|---|---|\n\n"},
      {"one column", Table{{row_of({"x"}), row_of({"y"})}}, "|x|\n|---|\n|y|\n\n"},
      {"all rows empty", Table{{row_of({}), row_of({})}, 3}, "\n"},
      {"empty first row", Table{{row_of({}), row_of({"a", "b"})}}, "|||\n|---|---|\n|a|b|\n\n"},
      {"empty later row", Table{{row_of({"a", "b"}), row_of({})}}, "|a|b|\n|---|---|\n|||\n\n"},
      {"line feed and bar in cells", Table{{row_of({"l1\nl2", "|"})}},
       "|l1 l2|\\||\n|---|---|\n\n"},
      {"cell ending in a backslash", Table{{row_of({"a\\"})}}, "|a\\|\n|---|\n\n"},
      {"trailing empty cells", Table{{row_of({"a"}, 2), row_of({}, 1)}},
       "|a|||\n|---|---|---|\n||||\n\n"},
      {"trailing empty rows", Table{{row_of({"a", "b"})}, 2}, "|a|b|\n|---|---|\n|||\n|||\n\n"},
      {"empty cell texts", Table{{row_of({"", ""})}}, "|||\n|---|---|\n\n"},
  };
  for (const Case& c : cases) {
    std::string out = "before\n\n";
    render_table(c.table, out);
    EXPECT_EQ(out, "before\n\n" + c.markdown) << c.name;
    EXPECT_EQ(rendered_table_size(c.table), c.markdown.size()) << c.name;
  }
}

TEST(RenderTable, RefusesToPassTheOutputCeiling) {
  // The 20-byte table declaring 65,535 x 65,535 cells renders to about 4 GiB.
  Table huge{{row_of({}, 65535)}, 65534};
  EXPECT_GT(rendered_table_size(huge), kOutputLimit);
  std::string out = "kept";
  EXPECT_THROW(render_table(huge, out), OutputLimitExceeded);
  EXPECT_EQ(out, "kept");
}

TEST(RenderTable, FillsTheOutputUpToTheCeilingExactly) {
  const Table table{{row_of({"ab"})}};  // "|ab|\n|---|\n\n", 12 bytes
  ASSERT_EQ(rendered_table_size(table), 12u);
  std::string out;
  out.reserve(kOutputLimit);
  out.assign(kOutputLimit - 12, 'x');
  render_table(table, out);
  EXPECT_EQ(out.size(), kOutputLimit);
  out.resize(kOutputLimit - 11);
  EXPECT_THROW(render_table(table, out), OutputLimitExceeded);
  EXPECT_EQ(out.size(), kOutputLimit - 11);
}

const Table kSmallTable{{row_of({"h"}), row_of({"v"})}};  // "|h|\n|---|\n|v|\n\n"
const Table kEmptyTable{{row_of({})}};                    // "\n"

TEST(AssembleMarkdown, WritesEachBlockByItsTemplate) {
  struct Case {
    const char* name;
    std::vector<Block> blocks;
    std::string markdown;
  };
  const std::vector<Case> cases = {
      {"no blocks", {}, ""},
      {"single paragraph has no line feed after it", {Paragraph{"Hello"}}, "Hello"},
      {"example document",
       {Paragraph{"One"}, Paragraph{"Two"}, Equation{" x "}, Image{"Map"}},
       "One\n\nTwo\n\n$$\nx\n$$\n\n[이미지: Map]"},
      {"paragraphs trimmed on both sides",
       {Paragraph{" \ta\u3000"}, Paragraph{"\u00A0b"}},
       "a\n\nb"},
      {"blank paragraph writes nothing, not even a line feed",
       {Paragraph{"a"}, Paragraph{" \n\u3000 "}, Paragraph{"b"}},
       "a\n\nb"},
      {"equation of spaces leaves an empty line between the $$ lines",
       {Equation{"   "}, Paragraph{"p"}},
       "$$\n\n$$\n\np"},
      {"empty equation", {Equation{""}}, "$$\n\n$$"},
      {"document ending with an equation", {Paragraph{"p"}, Equation{"a+b"}}, "p\n\n$$\na+b\n$$"},
      {"image without caption", {Image{""}, Paragraph{"p"}}, "[이미지]\n\np"},
      {"image caption written as stored", {Image{" a b "}}, "[이미지:  a b ]"},
      {"document ending with a table ends with its last row",
       {Paragraph{"p"}, Table{kSmallTable}},
       "p\n\n|h|\n|---|\n|v|"},
      {"table between paragraphs",
       {Paragraph{"a"}, Table{kSmallTable}, Paragraph{"b"}},
       "a\n\n|h|\n|---|\n|v|\n\nb"},
      {"table without columns at the start keeps its line feed",
       {Table{kEmptyTable}, Paragraph{"x"}},
       "\nx"},
      {"table without columns at the end is trimmed away",
       {Paragraph{"x"}, Table{kEmptyTable}},
       "x"},
      {"output of only white space becomes empty",
       {Table{kEmptyTable}, Paragraph{" "}, Table{kEmptyTable}},
       ""},
      {"trailing no-break and ideographic spaces removed", {Paragraph{"end\u00A0\u3000"}}, "end"},
      {"zero width space is not white space", {Paragraph{"a\u200B"}}, "a\u200B"},
      {"image caption ending in white space at the very end",
       {Image{"c\u2029"}},
       "[이미지: c\u2029]"},
      {"text is not escaped", {Paragraph{"*a* | #b"}}, "*a* | #b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(assemble_markdown(c.blocks), c.markdown) << c.name;
    // Sections are written one after another; any split of the blocks gives the same text.
    const std::span<const Block> all(c.blocks);
    for (std::size_t split = 0; split <= all.size(); ++split) {
      std::string out;
      append_blocks(all.first(split), out);
      append_blocks(all.subspan(split), out);
      trim_trailing_white_space(out);
      EXPECT_EQ(out, c.markdown) << c.name << ", split at " << split;
    }
  }
}

TEST(AssembledSize, CountsTheBytesWrittenBeforeTheFinalTrim) {
  struct Case {
    Block block;
    std::uint64_t size;
  };
  const std::vector<Case> cases = {
      {Paragraph{"  ab "}, 4},                     // "ab\n\n"
      {Paragraph{" \u3000"}, 0},                   // nothing
      {Equation{" x "}, 9},                        // "$$\nx\n$$\n\n"
      {Equation{""}, 8},         {Image{""}, 13},  // "[이미지]\n\n"
      {Image{"Map"}, 18},        {Table{kSmallTable}, 15}, {Table{kEmptyTable}, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(assembled_size(c.block), c.size);
    std::string written = assemble_markdown(std::vector<Block>{c.block, Paragraph{"z"}});
    // Followed by a paragraph nothing is trimmed, so the block's part is all but "z".
    EXPECT_EQ(written.size() - 1, c.size);
  }
}

TEST(AssembleMarkdown, RefusesOutputPastTheCeilingBeforeWriting) {
  // Each table alone renders to about 138 MB; together they pass 256 MiB.
  const Table big{{row_of({}, 65535)}, 2100};
  ASSERT_LT(assembled_size(Block{big}), kOutputLimit);
  const std::vector<Block> two{Block{big}, Paragraph{"x"}, Block{big}};
  EXPECT_THROW(assemble_markdown(two), OutputLimitExceeded);

  std::string out = "kept";
  EXPECT_THROW(append_blocks(two, out), OutputLimitExceeded);
  EXPECT_EQ(out, "kept");

  const Table huge{{row_of({}, 65535)}, 65534};
  EXPECT_THROW(assemble_markdown(std::vector<Block>{Paragraph{"a"}, huge}), OutputLimitExceeded);
}

// The writer's text is that of its blocks assembled at once, across batch boundaries and with
// blank paragraphs that add no block.
TEST(MarkdownWriter, WritesWhatAssemblyWrites) {
  std::vector<Block> blocks;
  MarkdownWriter writer;
  for (std::size_t k = 0; k < 2 * MarkdownWriter::kBlocksPerBatch + 7; ++k) {
    Block block = k % 3 == 0 ? Block{kSmallTable} : Block{Paragraph{"p" + std::to_string(k)}};
    blocks.push_back(block);
    writer.add(std::move(block));
    std::optional<PendingParagraph> blank = PendingParagraph{" \u3000", {}, {}};
    writer.add_paragraph(blank);
    EXPECT_FALSE(blank.has_value());
  }
  std::optional<PendingParagraph> last = PendingParagraph{"last \n", {}, {}};
  writer.add_paragraph(last);
  blocks.push_back(Paragraph{"last \n"});
  EXPECT_EQ(writer.finish(), assemble_markdown(blocks));
}

TEST(MarkdownWriter, CountsEveryBlockTowardTheCeiling) {
  // Renders to about 60 % of the ceiling while holding no text.
  const Table large{{row_of({}, 65535)}, 2457};
  ASSERT_LT(rendered_table_size(large), kOutputLimit);
  ASSERT_GT(2 * rendered_table_size(large), kOutputLimit);
  MarkdownWriter writer;
  writer.add(large);
  EXPECT_THROW(writer.add(large), OutputLimitExceeded);
}

}  // namespace
}  // namespace paravox
