#include "hwpx/header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "styles_dump.h"

namespace paravox {
namespace {

Bytes as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string para_pr(int id, std::string_view heading) {
  return "<hh:paraPr id=\"" + std::to_string(id) +
         "\" tabPrIDRef=\"0\"><hh:align horizontal=\"JUSTIFY\"/>" + std::string(heading) +
         "<hp:switch><hp:case><hh:margin><hc:left value=\"0\"/></hh:margin></hp:case>"
         "<hp:default><hh:heading type=\"BULLET\" idRef=\"9\" level=\"9\"/></hp:default>"
         "</hp:switch></hh:paraPr>";
}

// A header as the word processor writes one, with the definitions among parts not read.
const std::string kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<hh:head xmlns:hh=\"h\" xmlns:hp=\"p\" xmlns:hc=\"c\" version=\"1.4\" secCnt=\"1\">"
    "<hh:beginNum page=\"1\"/><hh:refList>"
    "<hh:charProperties itemCnt=\"1\"><hh:charPr id=\"0\"><hh:heading type=\"OUTLINE\"/>"
    "</hh:charPr></hh:charProperties>"
    "<hh:numberings itemCnt=\"2\"><hh:numbering id=\"1\" start=\"0\">"
    "<hh:paraHead start=\"1\" level=\"1\" numFormat=\"DIGIT\">^1.</hh:paraHead>"
    "<hh:paraHead start=\"3\" level=\"2\" numFormat=\"HANGUL_SYLLABLE\">^1.&amp;^2.</hh:paraHead>"
    "<hh:paraHead start=\"0\" level=\"3\" numFormat=\"CIRCLED_HANGUL_JAMO\">(^3)</hh:paraHead>"
    "<hh:paraHead start=\"1\" level=\"10\" numFormat=\"USER_CHAR\">^N</hh:paraHead>"
    "<hh:paraHead start=\"1\" level=\"11\" numFormat=\"DIGIT\">^9</hh:paraHead>"
    "</hh:numbering><hh:numbering id=\"2\" start=\"1\">"
    "<hh:paraHead level=\"1\" numFormat=\"DECAGON_CIRCLE_HANJA\">제^1장</hh:paraHead>"
    "<hh:paraHead level=\"2\" numFormat=\"NO_SUCH_FORMAT\"/></hh:numbering></hh:numberings>"
    "<hh:bullets itemCnt=\"1\"><hh:bullet id=\"1\" char=\"\xEF\x82\x9F\" useImage=\"0\">"
    "<hh:paraHead level=\"0\" numFormat=\"DIGIT\"/></hh:bullet></hh:bullets>"
    "<hh:paraProperties itemCnt=\"4\">" +
    para_pr(0, "<hh:heading type=\"NONE\" idRef=\"0\" level=\"0\"/>") +
    para_pr(1, "<hh:heading type=\"OUTLINE\" idRef=\"0\" level=\"9\"/>") +
    para_pr(2, "<hh:heading type=\"NUMBER\" idRef=\"2\" level=\"1\"/>") +
    para_pr(3, "<hh:heading type=\"BULLET\" idRef=\"1\" level=\"12\"/>") +
    "</hh:paraProperties>"
    "<hh:styles itemCnt=\"4\">"
    "<hh:style id=\"0\" type=\"PARA\" name=\"바탕글\" engName=\"Normal\" paraPrIDRef=\"0\"/>"
    "<hh:style id=\"1\" type=\"PARA\" name=\"목차 제목1\" engName=\"\" paraPrIDRef=\"1\"/>"
    "<hh:style id=\"2\" type=\"CHAR\" name=\"쪽 번호\" engName=\"Page Number\" "
    "paraPrIDRef=\"4294967295\"/>"
    "<hh:style id=\"3\" type=\"PARA\" name=\"개요 10\" engName=\"Outline 10\" paraPrIDRef=\"2\"/>"
    "</hh:styles></hh:refList></hh:head>";

TEST(HeaderXml, ReadsTheDefinitionsAsTheBinaryReaderGivesThem) {
  EXPECT_EQ(test::dump(read_header_xml(as_bytes(kHeader))),
            "shape none level 0 id 0\n"
            "shape outline level 9 id 0\n"
            "shape number level 1 id 2\n"
            "shape bullet level 9 id 1\n"
            "numbering ^1. 0 1|^1.&^2. 8 3|(^3) 11 1| 0 1| 0 1| 0 1| 0 1| 0 1| 0 1|^N 129 1\n"
            "numbering 제^1장 16 1\n"
            "bullet \xEF\x82\x9F\n"
            "style 바탕글/Normal shape 0 outline 0\n"
            "style 목차 제목1/ shape 1 outline 10\n"
            "style 쪽 번호/Page Number character shape 0 outline 0\n"
            "style 개요 10/Outline 10 shape 2 outline 10\n");
}

// Items placed by their ids; and parts where a reading that finds tags by searching for
// them would misread the definitions. Each gives what whole reading gives (a comment before
// the root makes the part read whole).
TEST(HeaderXml, PlacesItemsByIdAndReadsWholeWhatTheShortReadingWouldMisread) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      // Without an id, the first place left; ids past the count, and 0 where ids count from
      // 1, are dropped.
      {"<b:bullets><b:bullet id=\"2\" char=\"b\"/><b:bullet id=\"1\" char=\"a\"/>"
       "<b:bullet char=\"c\"/><b:bullet id=\"9\" char=\"d\"/><b:bullet id=\"0\"/></b:bullets>",
       "bullet a\nbullet b\nbullet c\nbullet \nbullet \n"},
      {"<h:paraProperties><!-- <h:paraPr id=\"1\"><h:heading type=\"BULLET\"/> -->"
       "<h:paraPr id=\"0\"><h:heading type=\"OUTLINE\" level=\"2\"/></h:paraPr></h:paraProperties>",
       "shape outline level 2 id 0\n"},
      {"<h:paraProperties><h:paraPr id=\"0\" note=\"a>b\"><h:heading type=\"OUTLINE\" level=\"2\"/>"
       "</h:paraPr></h:paraProperties>",
       "shape outline level 2 id 0\n"},
      {"<h:paraProperties><h:paraPr id=\"0\"><h:x><![CDATA[<h:heading type=\"BULLET\"/>]]></h:x>"
       "<?note <h:heading type=\"BULLET\"/>?><h:heading type=\"OUTLINE\" level=\"2\"/>"
       "</h:paraPr></h:paraProperties>",
       "shape outline level 2 id 0\n"},
      // A heading inside a margin is not the property's own.
      {"<a-prefix-of-twenty:paraProperties><a-prefix-of-twenty:paraPr id=\"0\"><h:margin>"
       "<heading x:y=\"1\" type=\"OUTLINE\" level=\"3\"/></h:margin>"
       "</a-prefix-of-twenty:paraPr></a-prefix-of-twenty:paraProperties>",
       "shape none level 0 id 0\n"},
      // After the heading, a paragraph property inside a switch case is one more.
      {"<h:paraProperties><h:paraPr id=\"0\"><h:heading type=\"OUTLINE\" level=\"1\"/><p:switch>"
       "<p:case><x:paraPr id=\"1\"><h:heading type=\"BULLET\" level=\"2\"/></x:paraPr></p:case>"
       "</p:switch></h:paraPr></h:paraProperties>",
       "shape outline level 1 id 0\nshape bullet level 2 id 0\n"},
      // Lists inside an element not read are not read, whatever a comment in it says.
      {"<h:note><!-- </h:note><h:bullets><h:bullet char=\"a\"/></h:bullets><h:note> --></h:note >"
       "<h:bullets><h:bullet char=\"b\"/></h:bullets>",
       "bullet b\n"},
      // A value that is not UTF-8 ends the part, as the reader sees it.
      {"<h:bullets><h:bullet char=\"a\"/></h:bullets><h:styles><h:style name=\"\xFF\"/></h:styles>",
       "bullet a\n"},
      // References, white space around '=', single quotes.
      {"<h:styles><h:style id = '0' name=\"A&amp;B\" engName='x \"y\"' type=\"CHAR\"/></h:styles>",
       "style A&B/x \"y\" character shape 0 outline 0\n"},
  };
  for (const auto& [lists, expected] : cases) {
    const std::string xml = "<h:head><h:refList>" + lists + "</h:refList></h:head>";
    EXPECT_EQ(test::dump(read_header_xml(as_bytes(xml))), expected) << lists;
    EXPECT_EQ(test::dump(read_header_xml(as_bytes("<!---->" + xml))), expected) << lists;
  }
}

// Cut anywhere, a header gives no more items than the whole one; styles and bullets, read
// from their start tags, are each the whole one's.
TEST(HeaderXml, AHeaderCutAnywhereGivesWhatCameBeforeTheCut) {
  const DocumentStyles whole = read_header_xml(as_bytes(kHeader));
  for (std::size_t cut = 0; cut < kHeader.size(); ++cut) {
    const DocumentStyles read = read_header_xml(as_bytes(std::string_view(kHeader).substr(0, cut)));
    ASSERT_LE(read.para_shapes.size() + read.numberings.size(),
              whole.para_shapes.size() + whole.numberings.size());
    ASSERT_LE(read.styles.size(), whole.styles.size());
    ASSERT_LE(read.bullets.size(), whole.bullets.size());
    for (std::size_t i = 0; i < read.styles.size(); ++i) {
      EXPECT_EQ(test::dump(read.styles[i]), test::dump(whole.styles[i])) << cut;
    }
    for (std::size_t i = 0; i < read.bullets.size(); ++i) {
      EXPECT_EQ(read.bullets[i].character, whole.bullets[i].character) << cut;
    }
  }
}

std::string content(std::string_view metadata, std::string_view manifest = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><opf:package xmlns:opf=\"o\">"
         "<opf:metadata>" +
         std::string(metadata) + "</opf:metadata><opf:manifest>" + std::string(manifest) +
         "</opf:manifest><opf:spine/></opf:package>";
}

std::string meta(std::string_view name, std::string_view value) {
  return "<opf:meta name=\"" + std::string(name) + "\" content=\"text\">" + std::string(value) +
         "</opf:meta>";
}

TEST(PackageContent, ReadsTheMetadataAndItsTimes) {
  struct Case {
    std::string metadata;
    std::string expected;
  };
  // 2023-10-05T03:27:06Z.
  const std::string t = "1696476426000000";
  const std::vector<Case> cases = {
      {"<opf:title>보고서</opf:title><opf:language>ko</opf:language>" + meta("creator", "kim") +
           meta("subject", "주제") + meta("description", "설명") + meta("lastsaveby", "lee") +
           meta("CreatedDate", "2023-10-05T03:27:06Z") +
           meta("ModifiedDate", "2023-10-05T03:27:06.5Z") + meta("keyword", "a, b"),
       "보고서|주제|kim|a, b|설명|lee|" + t + "|1696476426500000"},
      // White space around values; an offset, and no zone at all (read as UTC); a child
      // element inside a value.
      {"<opf:title>제목 </opf:title><opf:meta name=\"subject\"/>" + meta("creator", "<b>x</b> y ") +
           meta("CreatedDate", "2023-10-05T12:27:06+09:00") +
           meta("ModifiedDate", "2023-10-05T03:27:06"),
       "제목||y||||" + t + "|" + t},
      {meta("CreatedDate", "Thu Oct 05 12:27:06 KST 2023") +
           meta("ModifiedDate", "Thu Oct 05 03:27:06 GMT 2023"),
       "||||||" + t + "|" + t},
      // A day that does not exist, a zone of no known offset, an offset out of range.
      {meta("CreatedDate", "2023-02-30T00:00:00Z") +
           meta("ModifiedDate", "Thu Oct 05 12:27:06 PDT 2023"),
       "||||||-|-"},
      {meta("CreatedDate", "2023-10-05T03:27:06+25:00"), "||||||-|-"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(test::dump(read_package_content(as_bytes(content(c.metadata))).metadata), c.expected)
        << c.metadata;
  }
}

}  // namespace
}  // namespace paravox
