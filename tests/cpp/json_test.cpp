#include "document/json.h"
#include "document/front_matter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace paravox {
namespace {

// The JSON of a document holding one paragraph of `text`, cut down to the text's string.
std::string json_text_of(const std::string& text) {
  model::Document document;
  model::Paragraph paragraph;
  paragraph.text = text;
  document.body.emplace_back(std::move(paragraph));
  const std::string json = document_json("hwp", document, {}, {});
  const std::string key = "\"text\":";
  const std::size_t start = json.find(key) + key.size();
  const std::size_t end = json.rfind("}]}");
  return json.substr(start, end - start);
}

TEST(DocumentJson, EscapesWhatJsonReservesAndReplacesMalformedUtf8) {
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"plain | # <br> {{", "\"plain | # <br> {{\""},
      {"say \"hi\" \\ there", "\"say \\\"hi\\\" \\\\ there\""},
      {std::string("a\x00"
                   "b\x1f\n\t",
                   6),
       "\"a\\u0000b\\u001f\\u000a\\u0009\""},
      {"\x7f", "\"\x7f\""},
      // Hangul, a four-byte sequence, and the highest code point pass unchanged.
      {"한글 \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF", "\"한글 \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF\""},
      // A lone continuation byte, an overlong slash, a surrogate, past U+10FFFF, cut short.
      {"\x80x", "\"\xEF\xBF\xBDx\""},
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"x\xE2\x82", "\"x\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const auto& c : cases) EXPECT_EQ(json_text_of(c.text), c.json) << c.text;
}

// A heading keeps its level and number, a list item its level and number or bullet (the
// number when it has both), a body paragraph none of them; a picture names its entry.
TEST(DocumentJson, WritesParagraphRolesAndPictures) {
  using Role = model::ParagraphRole;
  const struct {
    Role role;
    std::uint8_t level;
    const char* number;
    const char* bullet;
    const char* block;
  } cases[] = {
      {Role::Body, 0, "", "",
       R"j({"type":"paragraph","origin":{"section":0,"paragraph":0},"text":"t"})j"},
      {Role::Heading, 2, "1.", "",
       R"j({"type":"heading","origin":{"section":0,"paragraph":0},"text":"t","level":2,"number":"1."})j"},
      {Role::Heading, 1, "", "",
       R"j({"type":"heading","origin":{"section":0,"paragraph":0},"text":"t","level":1})j"},
      {Role::ListItem, 0, "가.", "",
       R"j({"type":"list_item","origin":{"section":0,"paragraph":0},"text":"t","level":0,"number":"가."})j"},
      {Role::ListItem, 1, "", "•",
       R"j({"type":"list_item","origin":{"section":0,"paragraph":0},"text":"t","level":1,"bullet":"•"})j"},
      {Role::ListItem, 0, "1)", "•",
       R"j({"type":"list_item","origin":{"section":0,"paragraph":0},"text":"t","level":0,"number":"1)"})j"},
  };
  for (const auto& c : cases) {
    model::Document document;
    model::Paragraph paragraph;
    paragraph.text = "t";
    paragraph.role = c.role;
    paragraph.level = c.level;
    paragraph.number = c.number;
    paragraph.bullet = c.bullet;
    document.body.emplace_back(std::move(paragraph));
    const std::string json = document_json("hwp", document, {}, {});
    EXPECT_NE(json.find(std::string(R"("body":[)") + c.block + "]}"), std::string::npos) << json;
  }

  model::Document document;
  model::Picture shown;
  shown.picture = "image1";
  document.body.emplace_back(shown);
  document.body.emplace_back(model::Picture{});  // shows no embedded item
  // A size is written with the mark of a deflated stream's when it is one.
  document.pictures.push_back(model::EmbeddedPicture{"image1", "png", "", 3, 120, true});
  document.pictures.push_back(model::EmbeddedPicture{"image2", "", "image/gif", 4, 0, false});
  document.pictures.push_back(model::EmbeddedPicture{"image3", "", "", 5, std::nullopt, false});
  const std::string json = document_json("hwpx", document, {}, {});
  const std::string tail =
      R"("body":[{"type":"picture","origin":{"section":0,"paragraph":0},"caption":"","picture":"image1"},)"
      R"({"type":"picture","origin":{"section":0,"paragraph":0},"caption":""}],)"
      R"("pictures":[{"id":"image1","format":"png","size":120,"compressed":true},)"
      R"({"id":"image2","media_type":"image/gif","size":0},{"id":"image3"}]})";
  EXPECT_NE(json.find(tail), std::string::npos) << json;
}

TEST(DocumentJson, WritesTimesAsUtcWithMicrosecondsOnlyWhenThereAreAny) {
  const struct {
    UnixMicroseconds moment;
    const char* text;
  } cases[] = {
      {0, "1970-01-01T00:00:00Z"},
      {-1, "1969-12-31T23:59:59.999999Z"},
      {951'782'400'000'000, "2000-02-29T00:00:00Z"},
      {1'714'555'800'000'000, "2024-05-01T09:30:00Z"},
      {4'107'542'400'000'000 - 1'000'000, "2100-02-28T23:59:59Z"},
      {kEarliestTime, "0001-01-01T00:00:00Z"},
      {kLatestTime, "9999-12-31T23:59:59.999999Z"},
  };
  for (const auto& c : cases) EXPECT_EQ(iso8601_utc(c.moment), c.text) << c.moment;
}

}  // namespace
}  // namespace paravox
