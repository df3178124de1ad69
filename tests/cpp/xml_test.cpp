#include "hwpx/xml.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "base/error.h"

namespace paravox {
namespace {

// The events of a reading as text: "<name a=v>", "</>", and character data as "[text]".
// Elements named "skip" are skipped.
class Dump final : public XmlHandler {
 public:
  XmlVisit start_element(const XmlStartTag& tag) override {
    if (tag.local_name() == "skip") return XmlVisit::Skip;
    out += "<" + std::string(tag.name());
    for (const XmlAttribute& a : tag.attributes()) {
      out += " " + std::string(a.name) + "=" + std::string(a.value);
    }
    out += ">";
    return XmlVisit::Children;
  }
  void end_element() override { out += "</>"; }
  void character_data(std::string_view text) override { out += "[" + std::string(text) + "]"; }

  std::string out;
};

Status read(std::string_view xml, Dump& dump) {
  return read_xml(Bytes(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()), "part",
                  dump);
}

struct WellFormed {
  const char* name;
  std::string_view xml;
  std::string_view events;
  std::size_t after_root = 0;  // bytes of comments, instructions and space after the root
};

const WellFormed kWellFormed[] = {
    {"declaration_bom_and_misc",
     "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\" standalone='yes'?>\n<!-- c --><?pi "
     "x?><a/>\n<!--after--> ",
     "<a></>", 14},
    {"references", "<a b=\"&lt;&gt;&amp;&apos;&quot;&#65;&#xAC00;\">&#x1F600;&amp;x</a>",
     "<a b=<>&'\"A가>[😀][&][x]</>"},
    {"values_resolved_beside_values_as_written",
     "<r><a b=\"1\" c=\"&lt;\" d=\"2\"/><a b=\"3\" c=\"4\" d=\"5\"/></r>",
     "<r><a b=1 c=< d=2></><a b=3 c=4 d=5></></>"},
    {"white_space_in_values_and_line_ends", "<a b=\"1\t2\n3\r\n4\r5&#10;\">x\r\ny\rz</a>",
     "<a b=1 2 3 4 5\n>[x][\n][y][\n][z]</>"},
    {"cdata_comments_and_brackets", "<a>]<![CDATA[<b>]]]]>]><!-- - --><?p ?></a>",
     "<a>[]][<b>]]][]>]</>"},
    {"external_subset_never_read", "<!DOCTYPE a PUBLIC \"-//x//y\" 'file:///etc/passwd'>\n<a>t</a>",
     "<a>[t]</>"},
    {"names_beyond_ascii", "<가 나=\"다\"><hp:t xml:space='preserve'/></가>",
     "<가 나=다><hp:t xml:space=preserve></></>"},
    {"skipped_contents_reported_not", "<a><skip x=\"1\"><b>t</b></skip><c/></a>", "<a><c></></>"},
    {"repeated_tags_with_other_attributes",
     "<r><a x=\"1\" y=\"2\"/><a x=\"3\" z=\"4\"/><a x=\"5\"/></r>",
     "<r><a x=1 y=2></><a x=3 z=4></><a x=5></></>"},
    // A tag read while skipping, then tags of its name that repeat some of its bytes: values
    // that differ in length, a reference carried over, other spaces before an attribute.
    {"repeated_tags_with_other_values",
     "<r><skip><a x=\"1\" y=\"22\" z=\"&lt;\"/></skip><a x=\"1\" y=\"3\" z=\"&lt;\"/>"
     "<a x=\"1\" y=\"3\" z=\"&lt;\"/><a x=\"10\" y=\"3\" z=\"q\"/><a x=\"1\"  y='3'/></r>",
     "<r><a x=1 y=3 z=<></><a x=1 y=3 z=<></><a x=10 y=3 z=q></><a x=1 y=3></></>"},
};

class XmlWellFormedTest : public testing::TestWithParam<WellFormed> {};

TEST_P(XmlWellFormedTest, GivesItsEvents) {
  Dump dump;
  const Status status = read(GetParam().xml, dump);
  ASSERT_TRUE(status.ok()) << status.error().message();
  EXPECT_EQ(dump.out, GetParam().events);
}

// Every cut of a well-formed part before the end of its root element is refused.
TEST_P(XmlWellFormedTest, EveryTruncatedPrefixIsRefused) {
  const std::string_view xml = GetParam().xml;
  for (std::size_t cut = 0; cut < xml.size() - GetParam().after_root; ++cut) {
    Dump dump;
    EXPECT_FALSE(read(xml.substr(0, cut), dump).ok()) << "cut at " << cut;
  }
}

INSTANTIATE_TEST_SUITE_P(Xml, XmlWellFormedTest, testing::ValuesIn(kWellFormed),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

struct Malformed {
  const char* name;
  std::string_view xml;
  std::string_view message;  // after "Package error: part "
};

const Malformed kMalformed[] = {
    {"unclosed_element", "<a><b></b>", "is not well-formed XML (line 1: no element found)"},
    {"mismatched_end_tag", "<a>\n</b>", "is not well-formed XML (line 2: mismatched tag)"},
    {"duplicate_attribute", "<a x=\"1\" x=\"2\"/>",
     "is not well-formed XML (line 1: duplicate attribute)"},
    {"duplicate_after_the_same_tag_without_it", "<r><a x=\"1\" y=\"2\"/><a x=\"1\" x=\"2\"/></r>",
     "is not well-formed XML (line 1: duplicate attribute)"},
    {"duplicate_in_a_repeated_skipped_tag",
     "<r><skip><a x=\"1\" y=\"2\"/><a x=\"1\" y=\"2\" x=\"3\"/></skip></r>",
     "is not well-formed XML (line 1: duplicate attribute)"},
    {"lt_in_a_repeated_tag", "<r><a x=\"1\" y=\"2\"/><a x=\"1\" y=\"<\"/></r>",
     "is not well-formed XML (line 1: not well-formed (invalid token))"},
    {"lt_in_attribute_value", "<a x=\"<\"/>",
     "is not well-formed XML (line 1: not well-formed (invalid token))"},
    {"surrogate_character_reference", "<a>&#xD800;</a>",
     "is not well-formed XML (line 1: reference to invalid character number)"},
    {"undefined_entity", "<a x=\"&nbsp;\"/>", "is not well-formed XML (line 1: undefined entity)"},
    {"cdata_end_in_text", "<a>x]]>y</a>",
     "is not well-formed XML (line 1: not well-formed (invalid token))"},
    {"double_hyphen_in_comment", "<a><!-- a -- b --></a>",
     "is not well-formed XML (line 1: not well-formed (invalid token))"},
    {"invalid_utf8", "<a>\xC0\xAF</a>",
     "is not well-formed XML (line 1: not well-formed (invalid token))"},
    {"encoded_surrogate", "<a>\xED\xA0\x80</a>",
     "is not well-formed XML (line 1: not well-formed (invalid token))"},
    {"control_character", "<a>\x01</a>",
     "is not well-formed XML (line 1: not well-formed (invalid token))"},
    {"text_after_root", "<a/>x", "is not well-formed XML (line 1: junk after document element)"},
    {"second_root", "<a/><b/>", "is not well-formed XML (line 1: junk after document element)"},
    {"declaration_not_first", " <?xml version=\"1.0\"?><a/>",
     "is not well-formed XML (line 1: XML declaration not at start of part)"},
    {"entity_declaration", "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>", "declares XML entities"},
    {"internal_subset", "<!DOCTYPE a [<!ATTLIST a b CDATA \"c\">]><a/>",
     "declares an internal document type subset"},
    {"latin1_declared", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>",
     "declares an encoding other than UTF-8"},
    {"nothing", "", "is not well-formed XML (line 1: no element found)"},
};

class XmlMalformedTest : public testing::TestWithParam<Malformed> {};

TEST_P(XmlMalformedTest, IsRefusedWithItsReason) {
  Dump dump;
  const Status status = read(GetParam().xml, dump);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().kind(), ErrorKind::Package);
  EXPECT_EQ(status.error().text(), "part " + std::string(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(Xml, XmlMalformedTest, testing::ValuesIn(kMalformed),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(XmlDepth, ElementsNestAsDeepAsTheLimitAndNoDeeper) {
  for (const std::size_t depth : {kMaxElementDepth, kMaxElementDepth + 1}) {
    std::string xml;
    for (std::size_t k = 0; k < depth; ++k) xml += "<a>";
    for (std::size_t k = 0; k < depth; ++k) xml += "</a>";
    Dump dump;
    const Status status = read(xml, dump);
    EXPECT_EQ(status.ok(), depth <= kMaxElementDepth) << depth;
  }
}

}  // namespace
}  // namespace paravox
