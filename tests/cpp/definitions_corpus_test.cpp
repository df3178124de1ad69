// The definitions and the paragraph numbers of real documents: the two formats of each twin
// agree, and the numbers computed match what the documents themselves show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "document/numbering.h"
#include "document/text.h"
#include "hwp/docinfo.h"
#include "hwp/driver.h"
#include "hwp/section.h"
#include "hwp/summary.h"
#include "hwp/text.h"
#include "hwpx/header.h"
#include "hwpx/xml.h"
#include "styles_dump.h"

namespace paravox {
namespace {

namespace fs = std::filesystem;

fs::path corpus_dir() {
  if (const char* dir = std::getenv("PARAVOX_CORPUS")) return dir;
  return fs::path(PARAVOX_SOURCE_DIR).parent_path() / "shared" / "corpus";
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Bytes as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A paragraph as numbering sees it, in reading order.
struct SourceParagraph {
  std::uint16_t shape = 0;
  std::uint16_t style = 0;
  std::string text;
  int section_outline = -1;  // at a section's first paragraph: the section's outline numbering
};

struct DocumentReading {
  DocumentStyles styles;
  Metadata metadata;
  std::vector<SourceParagraph> paragraphs;
  std::string preview;
};

constexpr std::uint32_t kSectionDefinitionId = 0x73656364;  // 'secd'

DocumentReading read_binary(const fs::path& path) {
  DocumentReading reading;
  Result<HwpDocument> document = open_hwp_document(open_container(path.string()));
  if (!document) {
    ADD_FAILURE() << path << ": " << document.error().message();
    return reading;
  }
  Container& container = document->container;
  const bool compressed = document->header.compressed();
  Result<DocumentStyles> styles = read_document_styles(container, compressed);
  EXPECT_TRUE(styles.ok()) << path;
  if (styles) reading.styles = std::move(styles.value());
  reading.metadata = read_metadata(container);
  if (Result<ByteBuffer> preview = container.read_stream("/PrvText")) {
    reading.preview = decode_utf16(preview.value());
  }
  for (std::uint32_t k = 0;; ++k) {
    Result<Inflated> section = read_section_stream(container, section_stream_path(k), compressed);
    if (!section) break;
    const RecordList records = parse_records(section->bytes);
    int outline = 0;
    for (const Record& record : records) {
      if (record.tag_id == tag::kCtrlHeader &&
          u32_at(record.data(), 0) == std::optional<std::uint32_t>(kSectionDefinitionId)) {
        outline = section_outline_numbering(record.data());
        break;
      }
    }
    const std::size_t first = reading.paragraphs.size();
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (records[i].tag_id != tag::kParaHeader) continue;
      SourceParagraph paragraph;
      paragraph.shape = u16_at(records[i].data(), 8).value_or(0);
      paragraph.style = records[i].data().size() > 10 ? records[i].data()[10] : 0;
      if (i + 1 < records.size() && records[i + 1].tag_id == tag::kParaText) {
        paragraph.text = std::string(trim_text(decode_para_text_plain(records[i + 1].data())));
      }
      reading.paragraphs.push_back(std::move(paragraph));
    }
    if (reading.paragraphs.size() > first) reading.paragraphs[first].section_outline = outline;
  }
  return reading;
}

// The paragraphs of one section part, in the order they start; a section definition's
// outline numbering goes to the section's first paragraph.
class SectionParagraphs final : public XmlHandler {
 public:
  explicit SectionParagraphs(std::vector<SourceParagraph>& paragraphs)
      : paragraphs_(paragraphs), first_(paragraphs.size()) {}

  XmlVisit start_element(const XmlStartTag& tag) override {
    const std::string_view name = tag.local_name();
    std::size_t entered = kNone;
    if (name == "p") {
      SourceParagraph paragraph;
      paragraph.shape = static_cast<std::uint16_t>(number(tag.attribute("paraPrIDRef")));
      paragraph.style = static_cast<std::uint16_t>(number(tag.attribute("styleIDRef")));
      entered = paragraphs_.size();
      paragraphs_.push_back(std::move(paragraph));
    } else if (name == "secPr" && paragraphs_.size() > first_) {
      paragraphs_[first_].section_outline = number(tag.attribute("outlineShapeIDRef"));
    } else if (name == "t") {
      in_text_ = true;
    }
    open_.push_back(entered);
    return XmlVisit::Children;
  }
  void end_element() override {
    in_text_ = false;
    open_.pop_back();
  }
  void character_data(std::string_view text) override {
    for (auto it = open_.rbegin(); in_text_ && it != open_.rend(); ++it) {
      if (*it != kNone) {
        paragraphs_[*it].text += text;
        break;
      }
    }
  }

 private:
  static constexpr std::size_t kNone = SIZE_MAX;
  static int number(std::optional<std::string_view> text) {
    return text ? std::atoi(std::string(*text).c_str()) : 0;
  }

  std::vector<SourceParagraph>& paragraphs_;
  std::size_t first_;
  std::vector<std::size_t> open_;
  bool in_text_ = false;
};

DocumentReading read_hwpx(const fs::path& path) {
  DocumentReading reading;
  const std::string bytes = read_file(path);
  Result<Package> package = Package::open(as_bytes(bytes));
  if (!package) {
    ADD_FAILURE() << path << ": " << package.error().message();
    return reading;
  }
  reading.styles = read_document_styles(package.value());
  reading.metadata = read_metadata(package.value());
  if (Result<Part> preview = package->read("Preview/PrvText.txt")) {
    reading.preview.assign(reinterpret_cast<const char*>(preview->bytes.data()),
                           preview->bytes.size());
  }
  for (int k = 0;; ++k) {
    const std::string name = "Contents/section" + std::to_string(k) + ".xml";
    Result<Part> part = package->read(name);
    if (!part) break;
    SectionParagraphs handler(reading.paragraphs);
    EXPECT_TRUE(read_xml(part->bytes, name, handler).ok()) << path << " " << name;
  }
  for (SourceParagraph& paragraph : reading.paragraphs) {
    paragraph.text = std::string(trim_text(paragraph.text));
  }
  return reading;
}

// Each paragraph's head, as the engine numbers the document.
std::vector<ParagraphHead> heads_of(const DocumentReading& reading) {
  std::vector<ParagraphHead> heads;
  ParagraphNumbering numbering(reading.styles);
  for (const SourceParagraph& paragraph : reading.paragraphs) {
    if (paragraph.section_outline >= 0) {
      numbering.begin_section(static_cast<std::uint16_t>(paragraph.section_outline));
    }
    heads.push_back(numbering.next(paragraph.shape, paragraph.style));
  }
  return heads;
}

std::vector<fs::path> files_in(const fs::path& dir, const std::string& extension) {
  std::vector<fs::path> out;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == extension) out.push_back(entry.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(DefinitionsCorpus, TwinsAgreeOnTheDefinitionsTheirParagraphsUse) {
  const fs::path twins = corpus_dir() / "hwpx" / "twins";
  if (!fs::is_directory(twins)) GTEST_SKIP() << "shared HWPX twins not found at " << twins;
  std::size_t shapes_compared = 0;
  for (const fs::path& hwpx_path : files_in(twins, ".hwpx")) {
    fs::path hwp_path = hwpx_path;
    hwp_path.replace_extension(".hwp");
    const DocumentReading hwp = read_binary(hwp_path);
    const DocumentReading hwpx = read_hwpx(hwpx_path);
    const DocumentStyles& a = hwp.styles;
    const DocumentStyles& b = hwpx.styles;
    SCOPED_TRACE(hwpx_path.filename().string());

    ASSERT_EQ(a.numberings.size(), b.numberings.size());
    for (std::size_t i = 0; i < a.numberings.size(); ++i) {
      EXPECT_EQ(test::dump(a.numberings[i]), test::dump(b.numberings[i])) << "numbering " << i + 1;
    }
    ASSERT_EQ(a.bullets.size(), b.bullets.size());
    for (std::size_t i = 0; i < a.bullets.size(); ++i) {
      EXPECT_EQ(a.bullets[i].character, b.bullets[i].character) << "bullet " << i + 1;
    }
    ASSERT_EQ(a.styles.size(), b.styles.size());
    for (std::size_t i = 0; i < a.styles.size(); ++i) {
      EXPECT_EQ(a.styles[i].name, b.styles[i].name);
      EXPECT_EQ(a.styles[i].para_shape, b.styles[i].para_shape) << a.styles[i].name;
      EXPECT_EQ(a.styles[i].outline_level, b.styles[i].outline_level) << a.styles[i].name;
    }
    // Every paragraph shape has the same head, and the paragraphs name only shapes there are.
    // (Binary sections also hold their master pages' paragraphs, which HWPX keeps in parts of
    // their own, so the paragraphs themselves are not compared one by one.)
    ASSERT_EQ(a.para_shapes.size(), b.para_shapes.size());
    for (std::size_t i = 0; i < a.para_shapes.size(); ++i) {
      EXPECT_EQ(test::dump(a.para_shapes[i]), test::dump(b.para_shapes[i])) << "shape " << i;
      ++shapes_compared;
    }
    for (const auto* paragraphs : {&hwp.paragraphs, &hwpx.paragraphs}) {
      for (const SourceParagraph& p : *paragraphs) ASSERT_LT(p.shape, a.para_shapes.size());
    }
    // Pictures and objects: as many items, of the same types.
    const auto extensions = [](const DocumentStyles& styles) {
      std::vector<std::string> out;
      for (const BinaryDataItem& item : styles.binary_data) {
        std::string extension = item.extension;
        for (char& c : extension)
          c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        out.push_back(extension);
      }
      std::sort(out.begin(), out.end());
      return out;
    };
    EXPECT_EQ(extensions(a), extensions(b));

    // Saved twice from one document: the same author and creation time.
    EXPECT_EQ(hwp.metadata.author, hwpx.metadata.author);
    EXPECT_EQ(hwp.metadata.title, hwpx.metadata.title);
    ASSERT_TRUE(hwp.metadata.created && hwpx.metadata.created);
    // HWPX keeps whole seconds.
    EXPECT_EQ(*hwp.metadata.created / 1000000, *hwpx.metadata.created / 1000000);
  }
  EXPECT_GT(shapes_compared, 200u);
}

// header.xml's definition lists are read on their own when they are well-formed so; closing
// tags met in a comment after the root make them not, and the whole part is read instead.
TEST(DefinitionsCorpus, DefinitionListsReadAloneGiveWhatTheWholeHeaderGives) {
  const fs::path hwpx = corpus_dir() / "hwpx";
  if (!fs::is_directory(hwpx)) GTEST_SKIP() << "shared HWPX files not found at " << hwpx;
  std::size_t headers = 0;
  for (const char* folder : {"twins", "files"}) {
    for (const fs::path& path : files_in(hwpx / folder, ".hwpx")) {
      const std::string bytes = read_file(path);
      Result<Package> package = Package::open(as_bytes(bytes));
      if (!package) continue;
      Result<Part> header = package->read("Contents/header.xml");
      if (!header) continue;
      std::string whole(reinterpret_cast<const char*>(header->bytes.data()), header->bytes.size());
      whole += "<!-- </hh:numberings></hh:bullets></hh:paraProperties></hh:styles> -->";
      EXPECT_EQ(test::dump(read_header_xml(header->bytes)),
                test::dump(read_header_xml(as_bytes(whole))))
          << path;
      ++headers;
    }
  }
  EXPECT_GE(headers, 100u);
}

// Paragraphs whose own text is their number path ("3-2-1": the first of the third level
// under the second under the third) show the number of their level in its format.
TEST(DefinitionsCorpus, ParagraphsThatSpellOutTheirCountsGetThoseNumbers) {
  const fs::path features = corpus_dir() / "features";
  if (!fs::is_directory(features)) GTEST_SKIP() << "shared documents not found at " << features;
  const std::regex counts("[0-9]+(-[0-9]+)*");
  std::size_t checked = 0;
  for (const char* name : {"lists.hwp", "lists-bullet.hwp", "lists-bullet-2.hwp"}) {
    const DocumentReading reading = read_binary(features / name);
    const std::vector<ParagraphHead> heads = heads_of(reading);
    int outline = 0;
    for (std::size_t i = 0; i < heads.size(); ++i) {
      const SourceParagraph& paragraph = reading.paragraphs[i];
      if (paragraph.section_outline >= 0) outline = paragraph.section_outline;
      const ParagraphHead& head = heads[i];
      if (head.kind != HeadKind::Outline && head.kind != HeadKind::Number) continue;
      if (!std::regex_match(paragraph.text, counts)) continue;
      std::vector<std::uint32_t> path;
      for (std::size_t at = 0; at < paragraph.text.size();) {
        const std::size_t dash = std::min(paragraph.text.find('-', at), paragraph.text.size());
        path.push_back(
            static_cast<std::uint32_t>(std::stoul(paragraph.text.substr(at, dash - at))));
        at = dash + 1;
      }
      ASSERT_EQ(path.size(), head.level) << name << " paragraph " << i;
      const ParaShape& shape = reading.styles.para_shapes[paragraph.shape];
      const Numbering& numbering = head.kind == HeadKind::Outline
                                       ? (outline == 0 ? default_outline_numbering()
                                                       : reading.styles.numberings[outline - 1])
                                       : reading.styles.numberings[shape.head_id - 1];
      const NumberingLevel& level = numbering.levels[head.level - 1];
      // These documents' formats show their own level only: "^3)".
      const std::string marker = "^" + std::to_string(head.level);
      const std::size_t at = level.format.find(marker);
      ASSERT_NE(at, std::string::npos) << level.format;
      std::string expected = level.format;
      std::string number;
      append_number(number, level.kind, path.back());
      expected.replace(at, marker.size(), number);
      EXPECT_EQ(head.text, expected) << name << " paragraph " << i << " '" << paragraph.text << "'";
      ++checked;
    }
  }
  EXPECT_GE(checked, 40u);
}

// The word processor writes a table of contents from the outline numbers; its preview keeps
// those lines ("1. 개요 첫 번째 1").
TEST(DefinitionsCorpus, OutlineNumbersMatchTheTableOfContentsInThePreview) {
  const fs::path path = corpus_dir() / "hwpx" / "files" /
                        "python-hwpx-tests-fixtures-m7_toc_gold-hancom-native-toc-B.hwpx";
  if (!fs::exists(path)) GTEST_SKIP() << "shared HWPX file not found at " << path;
  const DocumentReading reading = read_hwpx(path);
  const std::vector<ParagraphHead> heads = heads_of(reading);
  std::size_t headings = 0;
  for (std::size_t i = 0; i < heads.size(); ++i) {
    if (heads[i].kind != HeadKind::Outline) continue;
    ++headings;
    const std::string line = "\n" + heads[i].text + " " + reading.paragraphs[i].text + " ";
    EXPECT_NE(reading.preview.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(headings, 4u);
}

}  // namespace
}  // namespace paravox
