// The HWPX header.xml and content.hpf readers over arbitrary XML, and the paragraph
// numbering over the definitions read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

#include "definitions_checks.h"
#include "hwpx/header.h"
#include "hwpx/xml.h"

using paravox::fuzz::is_valid_utf8;
using paravox::fuzz::require;

namespace {

struct AllEvents final : paravox::XmlHandler {
  paravox::XmlVisit start_element(const paravox::XmlStartTag&) override {
    return paravox::XmlVisit::Children;
  }
  void end_element() override {}
  void character_data(std::string_view) override {}
};

bool is_read_whole(std::string_view xml) {
  AllEvents events;
  return paravox::read_xml({reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()},
                           "Contents/header.xml", events)
      .ok();
}

bool same_definitions(const paravox::DocumentStyles& a, const paravox::DocumentStyles& b) {
  const auto same = [](const auto& x, const auto& y, auto fields) {
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (fields(x[i]) != fields(y[i])) return false;
    }
    return true;
  };
  return same(a.para_shapes, b.para_shapes,
              [](const paravox::ParaShape& s) { return std::tie(s.head, s.level, s.head_id); }) &&
         same(a.numberings, b.numberings,
              [](const paravox::Numbering& n) {
                std::string levels;
                for (const paravox::NumberingLevel& l : n.levels) {
                  levels += l.format + '\0' + std::to_string(static_cast<int>(l.kind)) + ' ' +
                            std::to_string(l.start) + '\0';
                }
                return levels;
              }) &&
         same(a.bullets, b.bullets,
              [](const paravox::Bullet& bullet) { return bullet.character; }) &&
         same(a.styles, b.styles, [](const paravox::Style& s) {
           return std::tie(s.name, s.english_name, s.character, s.para_shape, s.outline_level);
         });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const paravox::Bytes xml(data, size);
  const paravox::DocumentStyles styles = paravox::read_header_xml(xml);
  // Each definition is one element, of at least four bytes ("<a/>").
  require(styles.para_shapes.size() + styles.numberings.size() + styles.bullets.size() +
                  styles.styles.size() <=
              size / 4,
          "no more definitions than elements the bytes can hold");
  paravox::fuzz::check_definitions(styles);

  // A part the XML reader takes whole gives the same definitions read in short as read whole
  // (a comment before the root makes read_header_xml read it whole).
  std::string whole(reinterpret_cast<const char*>(data), size);
  std::size_t root = whole.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  if (std::string_view(whole).substr(root).starts_with("<?xml")) {
    const std::size_t declared = whole.find("?>", root);
    root = declared == whole.npos ? whole.size() : declared + 2;
  }
  whole.insert(root, "<!---->");
  if (is_read_whole(std::string_view(reinterpret_cast<const char*>(data), size)) &&
      is_read_whole(whole)) {
    require(same_definitions(
                styles, paravox::read_header_xml(
                            {reinterpret_cast<const std::uint8_t*>(whole.data()), whole.size()})),
            "definitions read in short are those read whole");
  }

  const paravox::PackageContent content = paravox::read_package_content(xml);
  const paravox::Metadata& m = content.metadata;
  for (const std::string* text :
       {&m.title, &m.subject, &m.author, &m.keywords, &m.comments, &m.last_saved_by}) {
    require(is_valid_utf8(*text), "values are UTF-8");
  }
  for (const auto& time : {m.created, m.modified}) {
    require(!time || (*time >= paravox::kEarliestTime && *time <= paravox::kLatestTime),
            "times lie in the years 1 to 9999");
  }
  for (const paravox::BinaryDataItem& item : content.binary_data) {
    require(item.path.starts_with("BinData/"), "items lie under BinData/");
  }
  return 0;
}
