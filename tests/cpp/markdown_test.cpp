#include "document/markdown.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/error.h"

namespace paravox {
namespace {

TableRow row_of(std::initializer_list<const char*> texts, std::uint32_t trailing_empty = 0) {
  TableRow row;
  for (const char* text : texts) row.cells.push_back({text});
  row.trailing_empty_cells = trailing_empty;
  return row;
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

}  // namespace
}  // namespace paravox
