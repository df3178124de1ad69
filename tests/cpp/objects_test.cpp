#include "hwp/objects.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "record_writer.h"

namespace paravox {
namespace {

using records_test::ctrl_header;
using records_test::eqedit;
using records_test::kDrawingCtrl;
using records_test::kEquationCtrl;
using records_test::kFootnoteCtrl;
using records_test::Payload;
using records_test::picture_payload;
using records_test::SectionWriter;

// Writes the records that follow a control header at level 1 (the control header itself is
// record 0, so handlers start at index 1).
using Fixture = std::function<void(SectionWriter&)>;

std::string dump_block(const std::optional<Block>& block) {
  if (!block) return "none";
  if (const auto* image = std::get_if<Image>(&*block)) {
    return "Image[" + image->caption + "]#" + std::to_string(image->item_number);
  }
  if (const auto* paragraph = std::get_if<Paragraph>(&*block)) {
    return "Paragraph[" + paragraph->text + "]";
  }
  return "unexpected block";
}

// --- control id and skipping -----------------------------------------------------------

TEST(ControlId, ReadsFirstFourBytesLittleEndianOrZero) {
  struct Case {
    Payload payload;
    std::uint32_t expected;
  };
  const std::vector<Case> cases = {
      {ctrl_header(kEquationCtrl), kEquationCtrl},
      {{0x20, 0x6C, 0x62, 0x74}, 0x74626C20},  // the file bytes of 'tbl '
      {{0x20, 0x6C, 0x62}, 0},                 // 3 bytes: no id
      {{}, 0},
  };
  for (const Case& c : cases) {
    const Record record{tag::kCtrlHeader, 1, c.payload};
    EXPECT_EQ(control_id(record), c.expected) << "payload size " << c.payload.size();
  }
}

TEST(SkipControl, ConsumesRecordsDeeperThanTheControl) {
  struct Case {
    const char* name;
    Fixture fixture;
    std::size_t expected;
  };
  const std::vector<Case> cases = {
      {"subtree then next paragraph",
       [](SectionWriter& w) { w.list_header(2).paragraph(2, u"note").paragraph(0, u"next"); }, 3},
      {"subtree runs to the end of the section",
       [](SectionWriter& w) { w.list_header(2).paragraph(3, u"deep"); }, 3},
      {"sibling at the control's level ends it at once",
       [](SectionWriter& w) { w.paragraph(1, u"sibling"); }, 0},
      {"control is the last record", [](SectionWriter&) {}, 0},
  };
  for (const Case& c : cases) {
    SectionWriter w;
    w.ctrl(1, kFootnoteCtrl);
    c.fixture(w);
    const auto records = w.records();
    EXPECT_EQ(skip_control(records, 1, 1), c.expected) << c.name;
  }
}

// --- equations ----------------------------------------------------------------------------

TEST(ConvertEquation, ReadsFirstEqEditDirectlyBelowAndConsumesSubtree) {
  struct Case {
    const char* name;
    Fixture fixture;
    std::optional<std::string> script;
    std::size_t consumed;
  };
  const std::vector<Case> cases = {
      {"script",
       [](SectionWriter& w) {
         w.record(tag::kEqEdit, 2, eqedit(u"x^2 + 1")).paragraph(0, u"after");
       },
       "x^2 + 1", 1},
      {"script kept untrimmed", [](SectionWriter& w) { w.record(tag::kEqEdit, 2, eqedit(u" a ")); },
       " a ", 1},
      {"records after the EQEDIT are consumed",
       [](SectionWriter& w) {
         w.record(tag::kEqEdit, 2, eqedit(u"y"))
             .list_header(2)
             .paragraph(3, u"caption")
             .paragraph(1, u"after");
       },
       "y", 4},
      {"only the first EQEDIT counts",
       [](SectionWriter& w) {
         w.record(tag::kEqEdit, 2, eqedit(u"first")).record(tag::kEqEdit, 2, eqedit(u"second"));
       },
       "first", 2},
      {"EQEDIT after other records of the subtree",
       [](SectionWriter& w) {
         w.list_header(2).paragraph(3, u"cap").record(tag::kEqEdit, 2, eqedit(u"z"));
       },
       "z", 4},
      {"zero code units",
       [](SectionWriter& w) { w.record(tag::kEqEdit, 2, eqedit(u"", 0)).list_header(2); },
       std::nullopt, 2},
      {"count larger than the payload",
       [](SectionWriter& w) { w.record(tag::kEqEdit, 2, eqedit(u"abc", 4)).list_header(2); },
       std::nullopt, 2},
      {"payload of 5 bytes",
       [](SectionWriter& w) {
         w.record(tag::kEqEdit, 2, Payload{0, 0, 0, 0, 1});
       },
       std::nullopt, 1},
      {"unpaired surrogate",
       [](SectionWriter& w) { w.record(tag::kEqEdit, 2, eqedit(u"a\xD800")); }, std::nullopt, 1},
      {"EQEDIT two levels down is not read",
       [](SectionWriter& w) {
         w.list_header(2).record(tag::kEqEdit, 3, eqedit(u"deep")).paragraph(0, u"after");
       },
       std::nullopt, 2},
      {"subtree ends without EQEDIT",
       [](SectionWriter& w) { w.list_header(2).paragraph(1, u"sibling"); }, std::nullopt, 1},
      {"section ends without EQEDIT", [](SectionWriter& w) { w.list_header(2); }, std::nullopt, 1},
      {"control is the last record", [](SectionWriter&) {}, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    SectionWriter w;
    w.ctrl(1, kEquationCtrl);
    c.fixture(w);
    const auto records = w.records();
    const EquationResult result = convert_equation(records, 1, 1);
    EXPECT_EQ(result.script, c.script) << c.name;
    EXPECT_EQ(result.consumed, c.consumed) << c.name;
  }
}

// --- drawing objects ------------------------------------------------------------------------

// A caption list below a drawing object at level 1: LIST_HEADER and paragraphs at level 2.
void caption(SectionWriter& w, std::initializer_list<std::u16string_view> paragraphs) {
  w.list_header(2);
  for (const auto text : paragraphs) w.paragraph(2, text);
}
void shape_component(SectionWriter& w) {
  w.record(tag::kShapeComponent, 2, Payload(40, 0));
}
// A text box's paragraphs below the shape component.
void text_box(SectionWriter& w, std::initializer_list<std::u16string_view> paragraphs) {
  w.list_header(3);
  for (const auto text : paragraphs) w.paragraph(3, text);
}
void picture(SectionWriter& w, std::size_t size = 73, std::uint16_t item = 1) {
  w.record(tag::kShapeComponentPicture, 3, picture_payload(size, item));
}

TEST(ConvertDrawingObject, ChoosesPictureContentsOrCaption) {
  struct Case {
    const char* name;
    Fixture fixture;
    std::string block;
    std::size_t consumed;
  };
  const std::vector<Case> cases = {
      {"picture with a one-paragraph caption",
       [](SectionWriter& w) {
         caption(w, {u"Fig 1"});
         shape_component(w);
         picture(w);
       },
       "Image[Fig 1]#1", 5},
      {"caption paragraphs joined by a space",
       [](SectionWriter& w) {
         caption(w, {u"a", u"b"});
         shape_component(w);
         picture(w);
       },
       "Image[a b]#1", 7},
      {"caption paragraphs trimmed, blank ones dropped",
       [](SectionWriter& w) {
         caption(w, {u"  a\u3000", u" \t ", u"b "});
         shape_component(w);
         picture(w);
       },
       "Image[a b]#1", 9},
      {"picture without caption",
       [](SectionWriter& w) {
         shape_component(w);
         picture(w);
       },
       "Image[]#1", 2},
      {"picture wins over text box text",
       [](SectionWriter& w) {
         caption(w, {u"cap"});
         shape_component(w);
         text_box(w, {u"inside"});
         picture(w);
       },
       "Image[cap]#1", 8},
      {"picture record of 72 bytes is no picture",
       [](SectionWriter& w) {
         caption(w, {u"cap"});
         shape_component(w);
         picture(w, 72);
       },
       "Paragraph[cap]", 5},
      {"picture record of 72 bytes and nothing else",
       [](SectionWriter& w) {
         shape_component(w);
         picture(w, 72);
       },
       "none", 2},
      {"a later short picture record clears the mark",
       [](SectionWriter& w) {
         shape_component(w);
         picture(w, 73);
         picture(w, 10);
       },
       "none", 3},
      {"a later full picture record sets the mark",
       [](SectionWriter& w) {
         shape_component(w);
         picture(w, 10);
         picture(w, 80, 0x0102);
       },
       "Image[]#258", 3},
      {"text box paragraphs joined by line feeds, caption dropped",
       [](SectionWriter& w) {
         caption(w, {u"cap"});
         shape_component(w);
         text_box(w, {u"x", u" \u3000 ", u"y"});
       },
       "Paragraph[x\ny]", 11},
      {"caption alone becomes a paragraph",
       [](SectionWriter& w) {
         caption(w, {u"only", u"caption"});
         shape_component(w);
       },
       "Paragraph[only caption]", 6},
      {"field start is skipped in object text",
       [](SectionWriter& w) {
         shape_component(w);
         w.list_header(3).paragraph(
             3,
             records_test::ParaChars().text(u"x").field_start().text(u"ab").field_end().text(u"y"));
       },
       "Paragraph[xaby]", 4},
      {"nested shapes count for one object",
       [](SectionWriter& w) {
         shape_component(w);
         w.record(tag::kShapeComponent, 3, Payload(40, 0));
         text_box(w, {u"deep"});
         w.record(tag::kShapeComponentPicture, 4, picture_payload());
       },
       "Image[]#1", 6},
      {"no shape component: nothing, subtree consumed",
       [](SectionWriter& w) {
         caption(w, {u"text"});
         w.paragraph(0, u"next");
       },
       "none", 3},
      {"shape component too deep does not start the contents",
       [](SectionWriter& w) {
         w.record(tag::kShapeComponent, 3, Payload(40, 0));
         w.paragraph(3, u"text");
         picture(w);
       },
       "none", 4},
      {"subtree ends at the object's level",
       [](SectionWriter& w) {
         shape_component(w);
         picture(w);
         w.paragraph(1, u"sibling");
       },
       "Image[]#1", 2},
      {"nothing below the control", [](SectionWriter& w) { w.paragraph(0, u"next"); }, "none", 0},
      {"control is the last record", [](SectionWriter&) {}, "none", 0},
  };
  for (const Case& c : cases) {
    SectionWriter w;
    w.ctrl(1, kDrawingCtrl);
    c.fixture(w);
    const auto records = w.records();
    const DrawingResult result = convert_drawing_object(records, 1, 1);
    EXPECT_EQ(dump_block(result.block), c.block) << c.name;
    EXPECT_EQ(result.consumed, c.consumed) << c.name;
  }
}

}  // namespace
}  // namespace paravox
