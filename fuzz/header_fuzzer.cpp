// The HWPX header.xml and content.hpf readers over arbitrary XML, and the paragraph
// numbering over the definitions read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "definitions_checks.h"
#include "hwpx/header.h"

using paravox::fuzz::is_valid_utf8;
using paravox::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const paravox::Bytes xml(data, size);
  const paravox::DocumentStyles styles = paravox::read_header_xml(xml);
  // Each definition is one element, of at least four bytes ("<a/>").
  require(styles.para_shapes.size() + styles.numberings.size() + styles.bullets.size() +
                  styles.styles.size() <=
              size / 4,
          "no more definitions than elements the bytes can hold");
  paravox::fuzz::check_definitions(styles);

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
