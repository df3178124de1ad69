#include "hwpx/hwpx.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/error.h"
#include "corpus_files.h"
#include "hwpx/package.h"

namespace paravox {
namespace {

namespace fs = std::filesystem;

// A ZIP archive of stored entries, enough for packages built from readable parts.
class ZipWriter {
 public:
  // An entry holding `data`, stored or deflated, whose headers declare `crc_change` xor its
  // CRC-32 and its size plus `size_change`.
  ZipWriter& add(const std::string& name, const std::string& data, bool deflate = false,
                 std::uint32_t crc_change = 0, std::int64_t size_change = 0) {
    const std::uint32_t crc =
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())) ^
        crc_change;
    const std::string packed = deflate ? deflate_raw(data) : data;
    const auto size =
        static_cast<std::uint32_t>(static_cast<std::int64_t>(data.size()) + size_change);
    const std::uint16_t method = deflate ? 8 : 0;
    const std::uint32_t offset = static_cast<std::uint32_t>(bytes_.size());
    header(bytes_, 0x04034b50, {20, 0, method, 0, 0}, crc, packed, size, name, {});
    bytes_ += name + packed;
    std::string& c = directory_;
    header(c, 0x02014b50, {20, 20, 0, method, 0, 0}, crc, packed, size, name, {0, 0, 0, 0, 0});
    put32(c, offset);
    c += name;
    ++count_;
    return *this;
  }

  std::string finish() const {
    std::string out = bytes_ + directory_;
    put32(out, 0x06054b50);
    for (std::uint16_t v : {0, 0}) put16(out, v);
    put16(out, count_);
    put16(out, count_);
    put32(out, static_cast<std::uint32_t>(directory_.size()));
    put32(out, static_cast<std::uint32_t>(bytes_.size()));
    put16(out, 0);
    return out;
  }

 private:
  static void put16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
  }
  static void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
  }
  static std::string deflate_raw(const std::string& data) {
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
  }
  // Signature, leading 16-bit fields (versions, flags, method, time, date), CRC, sizes, name
  // and extra lengths, trailing 16-bit fields.
  static void header(std::string& out, std::uint32_t signature,
                     std::initializer_list<std::uint16_t> leading, std::uint32_t crc,
                     const std::string& packed, std::uint32_t size, const std::string& name,
                     std::initializer_list<std::uint16_t> trailing) {
    put32(out, signature);
    for (std::uint16_t v : leading) put16(out, v);
    put32(out, crc);
    put32(out, static_cast<std::uint32_t>(packed.size()));
    put32(out, size);
    put16(out, static_cast<std::uint16_t>(name.size()));
    put16(out, 0);
    for (std::uint16_t v : trailing) put16(out, v);
  }

  std::string bytes_;
  std::string directory_;
  std::uint16_t count_ = 0;
};

Result<DocumentText> read_package(const std::string& package) {
  return hwpx_to_markdown(
      Bytes(reinterpret_cast<const std::uint8_t*>(package.data()), package.size()),
      Profile::Minimal);
}

// The Markdown alone.
Result<std::string> convert(const std::string& package) {
  Result<DocumentText> text = read_package(package);
  if (!text) return std::move(text).error();
  return std::move(text->markdown);
}

using AddSection = void (*)(ZipWriter&, const std::string& name, const std::string& xml,
                            std::size_t k);

void add_stored(ZipWriter& zip, const std::string& name, const std::string& xml, std::size_t) {
  zip.add(name, xml);
}

// A package whose sections hold `bodies` (the children of each section element), with the
// paragraph prefix `p` bound to its usual namespace; `add` writes each section part. The part
// of section `left_out`, if any, is named in the spine but not stored.
std::string package_of(const std::vector<std::string>& bodies,
                       std::size_t left_out = std::string::npos, AddSection add = add_stored) {
  ZipWriter zip;
  zip.add("mimetype", "application/hwp+zip");
  std::string items, refs;
  for (std::size_t k = 0; k < bodies.size(); ++k) {
    const std::string id = "section" + std::to_string(k);
    items += "<opf:item id=\"" + id + "\" href=\"Contents/" + id + ".xml\"/>";
    refs += "<opf:itemref idref=\"" + id + "\"/>";
  }
  zip.add("Contents/content.hpf",
          "<opf:package xmlns:opf=\"http://www.idpf.org/2007/opf/\"><opf:manifest>"
          "<opf:item id=\"header\" href=\"Contents/header.xml\"/>" +
              items + "</opf:manifest><opf:spine><opf:itemref idref=\"header\"/>" + refs +
              "</opf:spine></opf:package>");
  for (std::size_t k = 0; k < bodies.size(); ++k) {
    if (k == left_out) continue;
    add(zip, "Contents/section" + std::to_string(k) + ".xml",
        "<hs:sec xmlns:hs=\"http://www.hancom.co.kr/hwpml/2011/section\" "
        "xmlns:p=\"http://www.hancom.co.kr/hwpml/2011/paragraph\">" +
            bodies[k] + "</hs:sec>",
        k);
  }
  return zip.finish();
}

// Readable parts of a section.
std::string para(const std::string& runs) {
  return "<p:p><p:run>" + runs + "</p:run></p:p>";
}
std::string t(const std::string& text) {
  return "<p:t>" + text + "</p:t>";
}
std::string ctrl(const std::string& inner) {
  return "<p:ctrl>" + inner + "</p:ctrl>";
}
std::string click_here(const std::string& name, const std::string& guide, bool dirty,
                       const std::string& prop = "9") {
  const std::string command = "Clickhere:set:0:Direction:wstring:" + std::to_string(guide.size()) +
                              ":" + guide + " HelpState:wstring:0:";
  return ctrl("<p:fieldBegin type=\"CLICK_HERE\" name=\"" + name + "\" dirty=\"" +
              (dirty ? "1" : "0") + "\"><p:parameters><p:integerParam name=\"Prop\">" + prop +
              "</p:integerParam><p:stringParam name=\"Command\">" + command +
              "</p:stringParam></p:parameters></p:fieldBegin>");
}
std::string field_end() {
  return ctrl("<p:fieldEnd/>");
}
std::string cell(const std::string& paragraphs) {
  return "<p:tc><p:subList>" + paragraphs + "</p:subList><p:cellAddr colAddr=\"0\"/></p:tc>";
}
std::string table(const std::vector<std::vector<std::string>>& rows) {
  std::string out = "<p:tbl rowCnt=\"" + std::to_string(rows.size()) + "\">";
  for (const auto& row : rows) {
    out += "<p:tr>";
    for (const std::string& c : row) out += cell(c);
    out += "</p:tr>";
  }
  return out + "<p:caption><p:subList>" + para(t("table caption")) +
         "</p:subList></p:caption></p:tbl>";
}
std::string caption(const std::string& text) {
  return "<p:caption><p:subList>" + para(t(text)) + "</p:subList></p:caption>";
}
std::string draw_text(const std::string& paragraphs) {
  return "<p:drawText><p:subList>" + paragraphs + "</p:subList></p:drawText>";
}

struct WalkCase {
  const char* name;
  std::vector<std::string> body;  // the section's paragraphs
  std::string markdown;
};

class WalkTest : public testing::TestWithParam<WalkCase> {};

TEST_P(WalkTest, ConvertsLikeTheBinaryTwin) {
  const Result<std::string> markdown = convert(package_of({[] {
    std::string body;
    for (const std::string& paragraph : GetParam().body) body += paragraph;
    return body;
  }()}));
  ASSERT_TRUE(markdown.ok()) << markdown.error().message();
  EXPECT_EQ(markdown.value(), GetParam().markdown);
}

const WalkCase kWalkCases[] = {
    {"runs_join_and_marks_show_nothing",
     {para(t("a<p:tab width=\"1\"/>b<p:lineBreak/>c") + "</p:run><p:run>" + t("d&#9;e"))},
     "abcde"},
    {"control_characters_written_literally_show_nothing", {para(t("\td\te\n\t\tf\t"))}, "def"},
    {"control_characters_in_long_text_show_nothing",
     {para(t("가나다라마바사 0123456789\tabcdefghijklmnopq\r\nr~\t"))},
     "가나다라마바사 0123456789abcdefghijklmnopqr~"},
    {"field_with_guide_and_changed_value",
     {para(t("x") + click_here("name", "guide", true) + t("value") + field_end() + t("y"))},
     "x{{name: guide --> value}}y"},
    {"unchanged_field_shows_guide_only",
     {para(click_here("n", "guide", false) + t("guide") + field_end() + t(" ") +
           click_here("m", "", false) + t("v") + field_end())},
     "{{n: guide}} {{m}}"},
    {"field_after_another_control_is_not_attached",
     {para(ctrl("<p:bookmark name=\"b\"/>") + click_here("n", "g", true) + t("v") + field_end())},
     "v"},
    {"second_field_after_a_table_keeps_plain_text",
     {para(click_here("a", "", true) + t("1") + field_end() + table({{para(t("c"))}}) +
           click_here("b", "", true) + t("2") + field_end())},
     "{{a --> 1}}2\n\n|c|\n|---|"},
    {"unusual_prop_drops_guide_and_flag",
     {para(click_here("n", "guide", true, "8") + t("v") + field_end())},
     "{{n}}"},
    {"nested_field_start_runs_into_the_open_field",
     {para(click_here("n", "", true) + t("a") + click_here("m", "", true) + t("b") + field_end() +
           t("c") + field_end())},
     "{{n --> ab}}c"},
    {"hyperlink_text_stays_in_place",
     {para(t("see ") + ctrl("<p:fieldBegin type=\"HYPERLINK\" name=\"\"/>") + t("link") +
           field_end())},
     "see link"},
    {"field_left_open_keeps_its_text", {para(t("a") + click_here("n", "", true) + t("b"))}, "ab"},
    {"paragraph_text_precedes_its_table",
     {para(t("before") + table({{para(t("1")), para(t("2"))}, {para(t("3"))}}) + t(" after")),
      para(t("next"))},
     "before after\n\n|1|2|\n|---|---|\n|3||\n\nnext"},
    {"cell_paragraphs_fields_and_nested_tables",
     {para(table(
         {{para(t("x") + table({{para(t("a")), para("")}, {para(t("c")), para(t("d"))}}) + t("y")) +
           para(click_here("f", "", true) + t("v") + field_end())}}))},
     "|xy a c d {{f --> v}}|\n|---|"},
    {"fifth_nested_table_is_dropped",
     {para(table({{para(
         t("1") +
         table({{para(
             t("2") +
             table({{para(t("3") + table({{para(t("4") + table({{para(t("5"))}}))}}))}}))}}))}}))},
     "|1 2 3 4|\n|---|"},
    {"objects_and_equations_in_cells_give_nothing",
     {para(table({{para(t("a") + "<p:equation><p:script>x</p:script></p:equation>" + "<p:pic>" +
                        caption("cap") + "</p:pic>")}}))},
     "|a|\n|---|"},
    {"picture_with_caption",
     {para("<p:pic><p:imgRect/>" + caption("Fig 1") + "</p:pic>"),
      para("<p:pic><p:imgRect/></p:pic>")},
     "[이미지: Fig 1]\n\n[이미지]"},
    {"text_box_lines_win_over_its_caption",
     {para("<p:rect>" + caption("cap") + draw_text(para(t(" x ")) + para(t(" ")) + para(t("y"))) +
           "</p:rect>")},
     "x\ny"},
    {"shape_without_text_shows_its_caption",
     {para("<p:ellipse><p:caption><p:subList>" + para(t("a")) + para(t("b")) +
           "</p:subList></p:caption></p:ellipse>")},
     "a b"},
    {"picture_in_a_text_box_makes_a_picture",
     {para("<p:rect>" + caption("c") + draw_text(para(t("t") + "<p:pic/>")) + "</p:rect>")},
     "[이미지: c]"},
    {"equation_script_as_written",
     {para("<p:equation><p:shapeComment>eq</p:shapeComment><p:script> a over b </p:script>"
           "</p:equation>"),
      para("<p:equation><p:script></p:script></p:equation>")},
     "$$\na over b\n$$"},
    {"headers_footers_notes_are_left_out",
     {para(ctrl("<p:header><p:subList>" + para(t("H")) + "</p:subList></p:header>") +
           ctrl("<p:footNote><p:subList>" + para(t("N")) + "</p:subList></p:footNote>") +
           t("body"))},
     "body"},
    {"blank_paragraphs_give_nothing", {para(t(" &#x3000; ")), para(""), para(t("z"))}, "z"},
};

INSTANTIATE_TEST_SUITE_P(Hwpx, WalkTest, testing::ValuesIn(kWalkCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(HwpxPackage, ASectionPartThatCannotBeReadEndsTheDocumentWithAWarning) {
  std::string deep;
  for (int k = 0; k < 300; ++k) deep = "<p:x>" + deep + "</p:x>";
  const std::string lost =
      "Text from Contents/section1.xml on is missing: Package error: "
      "Contents/section1.xml ";
  struct Case {
    std::string second;  // the body of section 1
    bool stored;
    std::string text;
    std::string warning;
  };
  const std::vector<Case> cases = {
      {para(t("둘")), true, "하나\n\n둘\n\n셋", ""},
      {para(t("둘")), false, "하나", lost + "is missing"},
      // The paragraph read before the part broke off is taken back with the rest of it.
      {para(t("둘")) + deep, true, "하나", lost + "nests elements deeper than 256"},
  };
  for (const Case& c : cases) {
    const Result<DocumentText> text = read_package(
        package_of({para(t("하나")), c.second, para(t("셋"))}, c.stored ? std::string::npos : 1));
    ASSERT_TRUE(text.ok()) << text.error().message();
    std::string warnings;
    for (const Warning& w : text.value().warnings) {
      warnings += (w.kind == WarningKind::Damaged ? "" : "(too large) ") + w.message;
    }
    EXPECT_EQ(text.value().markdown, c.text) << c.warning;
    EXPECT_EQ(warnings, c.warning);
  }
}

// Elements are told by their local names, whatever the prefix; names that share a known
// name's length and its first, middle and last bytes are other elements.
TEST(HwpxPackage, PrefixesAreTheWritersChoice) {
  struct Case {
    std::string section;
    std::string markdown;
  };
  const std::vector<Case> cases = {
      {"<sec><p><run><t>a</t><x:tbl xmlns:x=\"urn:other\"><x:tr><x:tc><p><run><t>b</t></run>"
       "</p></x:tc></x:tr></x:tbl></run></p></sec>",
       "a\n\n|b|\n|---|"},
      {"<hs:sec><hp:p><hp:run><hp:t>a</hp:t></hp:run></hp:p><abc:p><hp:x:run><hp:t>b</hp:t>"
       "</hp:x:run></abc:p></hs:sec>",
       "a\n\nb"},
      // A ':' in the first eight bytes after the prefix, in the last eight or in both.
      {"<hs:sec><hp:p><hp:abcd:run><hp:t>a</hp:t><hp:abcdefghij:tbl><hp:tr><hp:tc><hp:subList>"
       "<hp:p><hp:run><hp:t>b</hp:t></hp:run></hp:p></hp:subList></hp:tc></hp:tr>"
       "</hp:abcdefghij:tbl><hp:x:equation><hp:script>c</hp:script></hp:x:equation>"
       "</hp:abcd:run></hp:p></hs:sec>",
       "a\n\n|b|\n|---|\n\n$$\nc\n$$"},
      {"<hs:sec><hp:p><hp:run><hp:t>a</hp:t><hp:cxrl><hp:tbl><hp:tr><hp:tc><hp:subList><hp:p>"
       "<hp:run><hp:t>b</hp:t></hp:run></hp:p></hp:subList></hp:tc></hp:tr></hp:tbl></hp:cxrl>"
       "<hp:exxxtxxn><hp:script>c</hp:script></hp:exxxtxxn><hp:tbl><hp:tr><hp:tc><hp:sxbLxst>"
       "<hp:p><hp:run><hp:t>d</hp:t></hp:run></hp:p></hp:sxbLxst><hp:subList><hp:p><hp:run>"
       "<hp:t>e</hp:t></hp:run></hp:p></hp:subList></hp:tc></hp:tr></hp:tbl><hp:T>f</hp:T>"
       "</hp:run></hp:p></hs:sec>",
       "a\n\n|e|\n|---|"},
  };
  for (const Case& c : cases) {
    ZipWriter zip;
    zip.add("mimetype", "application/hwp+zip")
        .add("Contents\\content.hpf",
             "<package><manifest><item id=\"s\" href=\"section0.xml\"/></manifest>"
             "<spine><itemref idref=\"s\"/></spine></package>")
        .add("Contents\\section0.xml", c.section);
    const Result<std::string> markdown = convert(zip.finish());
    ASSERT_TRUE(markdown.ok()) << markdown.error().message();
    EXPECT_EQ(markdown.value(), c.markdown) << c.section;
  }
}

struct BadPackage {
  const char* name;
  std::string bytes;
  std::string message;
};

class BadPackageTest : public testing::TestWithParam<BadPackage> {};

TEST_P(BadPackageTest, FailsWithItsMessage) {
  const Result<std::string> markdown = convert(GetParam().bytes);
  ASSERT_FALSE(markdown.ok());
  EXPECT_EQ(markdown.error().message(), GetParam().message);
}

const BadPackage kBadPackages[] = {
    {"not_zip", "PK\3\4 and nothing else",
     "Package error: not a ZIP archive (no readable central directory)"},
    {"docx",
     ZipWriter()
         .add("[Content_Types].xml", "<Types/>")
         .add("_rels/.rels", "<Relationships/>")
         .add("word/document.xml", "<w/>")
         .finish(),
     "Not an HWPX package: an Office Open XML package (DOCX, XLSX or PPTX)"},
    {"hwpx_parts_without_mimetype",
     ZipWriter()
         .add("Contents/section0.xml", "<hs:sec/>")
         .add("[Content_Types].xml", "<Types/>")
         .finish(),
     "Not an HWPX package: a ZIP archive without the application/hwp+zip mimetype"},
    {"odf", ZipWriter().add("mimetype", "application/vnd.oasis.opendocument.text").finish(),
     "Not an HWPX package: an OpenDocument package"},
    {"no_content", ZipWriter().add("mimetype", "application/hwp+zip").finish(),
     "Package error: Contents/content.hpf is missing"},
    {"encrypted",
     ZipWriter()
         .add("mimetype", "application/hwp+zip")
         .add("META-INF/manifest.xml",
              "<m:manifest xmlns:m=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
              "<m:file-entry m:full-path=\"Contents/section0.xml\"><m:encryption-data/>"
              "</m:file-entry></m:manifest>")
         .finish(),
     "Password-protected HWP files are not supported"},
    {"content_crc_mismatch",
     ZipWriter()
         .add("mimetype", "application/hwp+zip")
         .add("Contents/content.hpf", "<opf:package/>", true, 1)
         .finish(),
     "Package error: Contents/content.hpf is damaged (its CRC-32 does not match)"},
    {"entity_in_content",
     ZipWriter()
         .add("mimetype", "application/hwp+zip")
         .add("Contents/content.hpf", "<!DOCTYPE p [<!ENTITY a \"b\">]><p>&a;</p>")
         .finish(),
     "Package error: Contents/content.hpf declares XML entities"},
};

INSTANTIATE_TEST_SUITE_P(Hwpx, BadPackageTest, testing::ValuesIn(kBadPackages),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// ---------------------------------------------------------------------------------------------
// Parts whose bytes are not what their entries declare

// The second of three sections, written with one kind of damage: the document ends before it,
// with a warning naming the part and the damage.
struct DamagedPart {
  const char* name;
  AddSection add;
  const char* damage;  // after "Contents/section1.xml is damaged "; empty for a sound part
};

template <bool kDeflate, std::uint32_t kCrcChange, std::int64_t kSizeChange>
void add_damaged_second(ZipWriter& zip, const std::string& name, const std::string& xml,
                        std::size_t k) {
  if (k == 1) {
    zip.add(name, xml, kDeflate, kCrcChange, kSizeChange);
  } else {
    zip.add(name, xml, kDeflate);
  }
}

constexpr const char* kBadCrc = "(its CRC-32 does not match)";

const DamagedPart kDamagedParts[] = {
    {"stored_crc", add_damaged_second<false, 1, 0>, kBadCrc},
    {"deflated_crc", add_damaged_second<true, 0x80000000, 0>, kBadCrc},
    {"stored_longer_than_declared", add_damaged_second<false, 0, -1>,
     "(its size is not the 165 bytes its entry declares)"},
    {"deflated_longer_than_declared", add_damaged_second<true, 0, -1>,
     "(its size is not the 165 bytes its entry declares)"},
    {"deflated_shorter_than_declared", add_damaged_second<true, 0, 1>,
     "(its size is not the 167 bytes its entry declares)"},
    {"sound_deflated", add_damaged_second<true, 0, 0>, ""},
};

class DamagedPartTest : public testing::TestWithParam<DamagedPart> {};

TEST_P(DamagedPartTest, EndsTheDocumentBeforeItWithAWarning) {
  const Result<DocumentText> text = read_package(package_of(
      {para(t("one")), para(t("two")), para(t("three"))}, std::string::npos, GetParam().add));
  ASSERT_TRUE(text.ok()) << text.error().message();
  const std::string damage = GetParam().damage;
  if (damage.empty()) {
    EXPECT_EQ(text.value().markdown, "one\n\ntwo\n\nthree");
    EXPECT_TRUE(text.value().warnings.empty());
    return;
  }
  EXPECT_EQ(text.value().markdown, "one");
  const std::vector<Warning> expected = {
      {WarningKind::Damaged,
       "Text from Contents/section1.xml on is missing: Package error: Contents/section1.xml is "
       "damaged " +
           damage}};
  EXPECT_EQ(text.value().warnings, expected);
}

INSTANTIATE_TEST_SUITE_P(Hwpx, DamagedPartTest, testing::ValuesIn(kDamagedParts),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// The parts read from one package share one budget; the part that would pass it fails as too
// large, and parts within it are read whole.
TEST(PackageBudget, PartsReadTogetherStopAtTheBudget) {
  const std::string zip = ZipWriter()
                              .add("a", std::string(600, 'a'), true)
                              .add("b", std::string(600, 'b'))
                              .add("c", std::string(600, 'c'), true)
                              .finish();
  Result<Package> package =
      Package::open(Bytes(reinterpret_cast<const std::uint8_t*>(zip.data()), zip.size()), 1500);
  ASSERT_TRUE(package.ok());
  EXPECT_EQ(package->read("a").value().bytes.size(), 600u);
  EXPECT_EQ(package->read("b").value().bytes.size(), 600u);
  const Result<Part> over = package->read("c");
  ASSERT_FALSE(over.ok());
  EXPECT_EQ(over.error().cause(), ErrorCause::OverCeiling);
  EXPECT_EQ(over.error().message(),
            "Package error: c takes the parts read past 1500 inflated bytes");
}

// The end record is the last of its signature within the archive comment's reach (64 KiB):
// found behind a comment of any length, not past it, and a signature inside the comment wins.
TEST(PackageEndRecord, IsTheLastSignatureWithinTheCommentsReach) {
  const std::string zip = ZipWriter().add("a", "alpha").finish();
  const auto with_comment = [&](const std::string& comment) {
    std::string out = zip;
    out[out.size() - 2] = static_cast<char>(comment.size() & 0xFF);
    out[out.size() - 1] = static_cast<char>(comment.size() >> 8);
    return out + comment;
  };
  const struct {
    const char* name;
    std::string bytes;
    bool opens;
  } cases[] = {
      {"no comment", zip, true},
      {"a comment with P's", with_comment("PK PP P"), true},
      {"the longest comment", with_comment(std::string(0xFFFF, 'P')), true},
      {"one byte past the longest comment", zip + std::string(0x10000, 'x'), false},
      {"a signature inside the comment",
       with_comment(std::string("PK\5\6", 4) + std::string(20, 'x')), false},
  };
  for (const auto& c : cases) {
    Result<Package> package =
        Package::open(Bytes(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()));
    EXPECT_EQ(package.ok(), c.opens) << c.name;
    if (package.ok()) {
      EXPECT_EQ(package->read("a").value().bytes.size(), 5u) << c.name;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The shared corpus of real documents

fs::path corpus_dir() {
  return test::corpus_root() / "hwpx";
}

TEST(HwpxCorpus, TwinsConvertToTheirBinaryTwinsMarkdown) {
  const fs::path twins = corpus_dir() / "twins";
  if (!fs::is_directory(twins)) GTEST_SKIP() << "shared HWPX twins not found at " << twins;
  const std::vector<fs::path> packages = test::files_in(twins, ".hwpx");
  ASSERT_FALSE(packages.empty());
  for (const fs::path& package : packages) {
    const fs::path expected =
        corpus_dir() / "expected" / package.filename().replace_extension(".md");
    const Result<std::string> markdown = convert(test::read_file(package));
    ASSERT_TRUE(markdown.ok()) << package << ": " << markdown.error().message();
    EXPECT_EQ(markdown.value(), test::read_file(expected)) << package;
  }
}

TEST(HwpxCorpus, EveryFileHasACleanOutcome) {
  const fs::path files = corpus_dir() / "files";
  if (!fs::is_directory(files)) GTEST_SKIP() << "shared HWPX files not found at " << files;
  std::size_t converted = 0;
  for (const fs::path& path : test::files_in(files, ".hwpx")) {
    const std::string bytes = test::read_file(path);
    const Result<std::string> markdown = convert(bytes);
    if (markdown.ok()) {
      ++converted;
      continue;
    }
    // Binary documents carrying an .hwpx name, and a ZIP that is no HWPX package.
    const bool compound_file = bytes.starts_with("\xD0\xCF\x11\xE0");
    const ErrorKind kind = markdown.error().kind();
    EXPECT_TRUE((compound_file && kind == ErrorKind::Package) || kind == ErrorKind::NotHwpxPackage)
        << path << ": " << markdown.error().message();
  }
  EXPECT_GE(converted, 100u);
}

}  // namespace
}  // namespace paravox
