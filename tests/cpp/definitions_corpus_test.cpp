// The definitions and paragraph numbers of real documents: the two formats of each twin
// agree, and the numbers computed are those the documents themselves spell out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "corpus_files.h"
#include "document/numbering.h"
#include "document/text.h"
#include "hwp/docinfo.h"
#include "hwp/driver.h"
#include "hwp/section.h"
#include "hwp/text.h"
#include "hwpx/header.h"
#include "hwpx/hwpx.h"
#include "styles_dump.h"

namespace paravox {
namespace {

namespace fs = std::filesystem;
using test::corpus_root;
using test::files_in;

Bytes as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(DefinitionsCorpus, TwinsAgreeOnEveryDefinition) {
  const fs::path twins = corpus_root() / "hwpx" / "twins";
  if (!fs::is_directory(twins)) GTEST_SKIP() << "shared HWPX twins not found at " << twins;
  std::size_t shapes = 0;
  for (const fs::path& path : files_in(twins, ".hwpx")) {
    SCOPED_TRACE(path.filename().string());
    Result<HwpDocument> hwp =
        open_hwp_document(open_container(fs::path(path).replace_extension(".hwp").string()));
    ASSERT_TRUE(hwp.ok());
    Result<DocumentStyles> a = read_document_styles(hwp->container, hwp->header.compressed());
    const std::string bytes = test::read_file(path);
    Result<Package> package = open_hwpx_package(as_bytes(bytes));
    ASSERT_TRUE(a.ok() && package.ok());
    DocumentStyles b = read_document_styles(package.value());
    // The formats name and place binary data differently: as many items of the same types.
    ASSERT_EQ(a->binary_data.size(), b.binary_data.size());
    for (std::size_t i = 0; i < b.binary_data.size(); ++i) {
      std::string extension = a->binary_data[i].extension;
      for (char& c : extension) c = static_cast<char>(std::tolower(c));  // "OLE" and "ole"
      EXPECT_EQ(extension, b.binary_data[i].extension);
    }
    a->binary_data.clear();
    b.binary_data.clear();
    for (Style& style : a->styles) style.english_name.clear();  // HWPX may leave it out
    for (Style& style : b.styles) style.english_name.clear();
    EXPECT_EQ(test::dump(a.value()), test::dump(b));
    shapes += b.para_shapes.size();
  }
  EXPECT_GT(shapes, 200u);
}

// Every corpus header.xml gives the same definitions read in short as read whole: a comment
// before the root makes the part read whole.
TEST(DefinitionsCorpus, DefinitionListsReadAloneGiveWhatTheWholeHeaderGives) {
  const fs::path hwpx = corpus_root() / "hwpx";
  if (!fs::is_directory(hwpx)) GTEST_SKIP() << "shared HWPX files not found at " << hwpx;
  std::size_t headers = 0;
  for (const char* folder : {"twins", "files"}) {
    for (const fs::path& path : files_in(hwpx / folder, ".hwpx")) {
      const std::string bytes = test::read_file(path);
      Result<Package> package = Package::open(as_bytes(bytes));
      Result<Part> header = package ? package->read("Contents/header.xml") : package.error();
      if (!header) continue;
      std::string whole(reinterpret_cast<const char*>(header->bytes.data()), header->bytes.size());
      const std::size_t declared = whole.find("?>");
      whole.insert(declared == whole.npos ? 0 : declared + 2, "<!-- -->");
      EXPECT_EQ(test::dump(read_header_xml(header->bytes)),
                test::dump(read_header_xml(as_bytes(whole))))
          << path;
      ++headers;
    }
  }
  EXPECT_GE(headers, 100u);
}

// In lists.hwp the numbered and outline paragraphs spell out their own counts ("3-2-1": the
// first of the third level under the second under the third): each shows its level's count in
// its level's format, through restarts (another numbering, another section's outline
// numbering) and continuations (the same numbering after other paragraphs).
TEST(DefinitionsCorpus, ParagraphsThatSpellOutTheirCountsGetThoseNumbers) {
  const fs::path path = corpus_root() / "features" / "lists.hwp";
  if (!fs::exists(path)) GTEST_SKIP() << "shared document not found at " << path;
  Result<HwpDocument> document = open_hwp_document(open_container(path.string()));
  ASSERT_TRUE(document.ok());
  const bool compressed = document->header.compressed();
  Result<DocumentStyles> styles = read_document_styles(document->container, compressed);
  ASSERT_TRUE(styles.ok());
  ParagraphNumbering numbering(styles.value());
  std::size_t checked = 0;
  for (std::uint32_t k = 0;; ++k) {
    Result<Inflated> bytes =
        read_section_stream(document->container, section_stream_path(k), compressed);
    if (!bytes) break;
    const RecordList records = parse_records(bytes->bytes);
    // The section definition ('secd') comes among the first paragraph's controls.
    std::uint16_t outline = 0;
    for (const Record& record : records) {
      if (record.tag_id == tag::kCtrlHeader && u32_at(record.data(), 0) == 0x73656364u) {
        outline = section_outline_numbering(record.data());
        break;
      }
    }
    numbering.begin_section(outline);
    for (std::size_t i = 0; i + 1 < records.size(); ++i) {
      if (records[i].tag_id != tag::kParaHeader) continue;
      const Bytes header = records[i].data();
      const std::uint16_t style = header.size() > 10 ? header[10] : 0;
      const ParagraphHead& head = numbering.next(u16_at(header, 8).value_or(0), style);
      const std::string text(trim_text(decode_para_text_plain(records[i + 1].data())));
      // The paragraphs checked hold their counts, "2-1-3": digits joined by hyphens.
      const bool counts = !text.empty() && std::isdigit(static_cast<unsigned char>(text.back())) &&
                          text.find_first_not_of("0123456789-") == std::string::npos &&
                          text.front() != '-' && text.find("--") == std::string::npos;
      if (head.kind == HeadKind::None || head.kind == HeadKind::Bullet ||
          records[i + 1].tag_id != tag::kParaText || !counts) {
        continue;
      }
      ASSERT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '-')) + 1,
                head.level);
      const std::uint16_t id = head.kind == HeadKind::Outline
                                   ? outline
                                   : styles->para_shapes[u16_at(header, 8).value()].head_id;
      // These documents' formats show their own level only ("^3)").
      const NumberingLevel& level = styles->numberings.at(id - 1).levels[head.level - 1];
      std::string expected = level.format;
      std::string number;
      append_number(number, level.kind,
                    static_cast<std::uint32_t>(std::stoul(text.substr(text.rfind('-') + 1))));
      expected.replace(expected.find('^'), 2, number);
      EXPECT_EQ(head.text, expected) << "section " << k << " '" << text << "'";
      ++checked;
    }
  }
  // Three runs of numbered paragraphs (10, 2 and 10) and three of outline paragraphs.
  EXPECT_EQ(checked, 44u);
}

}  // namespace
}  // namespace paravox
