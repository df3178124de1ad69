#include "hwpx/hwpx.h"

#include <algorithm>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "document/block.h"
#include "document/document_builder.h"
#include "document/full_markdown.h"
#include "document/markdown.h"
#include "hwpx/header.h"
#include "hwpx/package.h"
#include "hwpx/section_walk.h"
#include "hwpx/xml.h"

namespace paravox {
namespace {

constexpr std::string_view kMimetypeName = "mimetype";
constexpr std::string_view kHwpxMimetype = "application/hwp+zip";
constexpr std::string_view kManifestName = "META-INF/manifest.xml";
constexpr std::string_view kContentName = "Contents/content.hpf";

std::string_view as_text(Bytes bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
    return (a >= 'A' && a <= 'Z' ? a + ('a' - 'A') : a) == b;
  });
}

// A ZIP archive is an HWPX package when its mimetype entry says so (stored or compressed).
Status check_mimetype(const Package& package) {
  std::string_view mimetype;
  Result<Part> part = package.read(kMimetypeName);
  if (part) {
    mimetype = as_text(part->bytes);
  } else if (package.contains(kMimetypeName)) {
    // A mimetype entry the directory lists but whose data cannot be read is damage (a cut or
    // shifted archive), not evidence of another kind of ZIP.
    return std::move(part).error();
  }
  if (mimetype == kHwpxMimetype) return {};
  // An Office Open XML package has both its content-type list and its package relationships;
  // some HWPX writers add the first alone.
  if (package.contains("[Content_Types].xml") && package.contains("_rels/.rels")) {
    return ConvertError::not_hwpx_package(std::string(kNotHwpxOoxml));
  }
  if (mimetype.starts_with("application/vnd.oasis.opendocument.")) {
    return ConvertError::not_hwpx_package(std::string(kNotHwpxOdf));
  }
  return ConvertError::not_hwpx_package(std::string(kNotHwpxZip));
}

// Whether the package's manifest declares encrypted parts.
class ManifestReading final : public XmlHandler {
 public:
  XmlVisit start_element(const XmlStartTag& tag) override {
    if (tag.local_name() == "encryption-data") encrypted = true;
    return XmlVisit::Children;
  }
  void end_element() override {}
  void character_data(std::string_view) override {}

  bool encrypted = false;
};

// The package description: manifest items, the spine's order, and the plain list of section
// parts some writers give instead.
class ContentReading final : public XmlHandler {
 public:
  XmlVisit start_element(const XmlStartTag& tag) override {
    const std::string_view name = tag.local_name();
    if (name == "item") {
      const auto id = tag.attribute("id");
      const auto href = tag.attribute("href");
      if (id && href) {
        items.try_emplace(std::string(*id), *href);
        item_order.emplace_back(*id);
      }
    } else if (name == "itemref") {
      if (const auto idref = tag.attribute("idref")) spine.emplace_back(*idref);
    } else if (name == "section") {
      if (const auto src = tag.attribute("src")) listed_sections.emplace_back(*src);
    }
    return XmlVisit::Children;
  }
  void end_element() override {}
  void character_data(std::string_view) override {}

  std::unordered_map<std::string, std::string> items;
  std::vector<std::string> item_order;
  std::vector<std::string> spine;
  std::vector<std::string> listed_sections;
};

// Section parts are named "section<N>.xml" by id or file name; the spine also lists the
// header part, scripts and other data.
bool is_section_item(std::string_view id, std::string_view href) {
  const std::size_t slash = href.find_last_of("/\\");
  const std::string_view file = slash == std::string_view::npos ? href : href.substr(slash + 1);
  return starts_with_ignoring_case(id, "section") || starts_with_ignoring_case(file, "section");
}

// The entry an href names: written from the package root, as the word processor does, or
// relative to the content file's folder.
std::string resolve(const Package& package, std::string href) {
  std::replace(href.begin(), href.end(), '\\', '/');
  while (href.starts_with("/")) href.erase(0, 1);
  if (package.contains(href)) return href;
  std::string relative = "Contents/" + href;
  if (package.contains(relative)) return relative;
  return href;
}

// The package description, which every reading needs.
Result<Part> read_content_part(const Package& package) {
  if (!package.contains(kContentName)) {
    return ConvertError::package(std::string(kContentName) + " is missing");
  }
  return package.read(kContentName);
}

// The section parts in the order the package description `hpf` gives.
Result<std::vector<std::string>> section_parts(const Package& package, Bytes hpf) {
  ContentReading content;
  if (Status read = read_xml(hpf, kContentName, content); !read) {
    return std::move(read).error();
  }

  std::vector<std::string> hrefs;
  for (const std::string& idref : content.spine) {
    const auto item = content.items.find(idref);
    if (item != content.items.end() && is_section_item(item->first, item->second)) {
      hrefs.push_back(item->second);
    }
  }
  if (hrefs.empty()) {
    for (const std::string& id : content.item_order) {
      const std::string& href = content.items.at(id);
      if (is_section_item(id, href)) hrefs.push_back(href);
    }
  }
  if (hrefs.empty()) hrefs = std::move(content.listed_sections);

  // A part named twice is converted once.
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  for (std::string& href : hrefs) {
    std::string name = resolve(package, std::move(href));
    if (seen.insert(name).second) names.push_back(std::move(name));
  }
  return names;
}

// Walks the section parts named in `sections` into `out` (a MarkdownWriter or a
// DocumentBuilder). The first part that is missing, does not inflate or is not well-formed
// ends the document, keeping the sections before it, with a warning in `warnings`.
template <class Output>
void walk_sections(const Package& package, const std::vector<std::string>& sections, Output& out,
                   std::vector<Warning>& warnings) {
  for (std::uint32_t k = 0; k < sections.size(); ++k) {
    const std::string& name = sections[k];
    Result<Part> part = package.read(name);
    if (!part) {
      warnings.push_back(text_missing_from(name, part.error()));
      break;
    }
    const typename Output::Mark before = out.mark();
    if constexpr (std::is_same_v<Output, DocumentBuilder>) out.start_section(k);
    if (Status walked = walk_section_part(part->bytes, name, out); !walked) {
      out.roll_back(before);
      warnings.push_back(text_missing_from(name, walked.error()));
      break;
    }
  }
}

}  // namespace

Result<Package> open_hwpx_package(Bytes bytes) {
  Result<Package> opened = Package::open(bytes);
  if (!opened) return std::move(opened).error();
  const Package& package = opened.value();
  if (Status mimetype = check_mimetype(package); !mimetype) return std::move(mimetype).error();

  if (package.contains(kManifestName)) {
    // A manifest that cannot be read declares nothing; only its encryption matters here.
    if (Result<Part> part = package.read(kManifestName)) {
      ManifestReading manifest;
      if (read_xml(part->bytes, kManifestName, manifest) && manifest.encrypted) {
        return ConvertError::password_protected();
      }
    }
  }
  return opened;
}

Result<DocumentModel> read_hwpx_body(const Package& package, PackageContent* content) {
  Result<Part> hpf = read_content_part(package);
  if (!hpf) return std::move(hpf).error();
  Result<std::vector<std::string>> sections = section_parts(package, hpf->bytes);
  if (!sections) return std::move(sections).error();
  if (content != nullptr) *content = read_package_content(hpf->bytes);
  DocumentModel model;
  try {
    const DocumentStyles styles = read_header_definitions(package);
    DocumentBuilder builder(styles);
    walk_sections(package, sections.value(), builder, model.warnings);
    model.document = builder.finish();
  } catch (const OutputLimitExceeded&) {
    return output_limit_error();
  }
  return model;
}

Result<DocumentText> hwpx_to_markdown(Bytes bytes, Profile profile, bool headers_footers) {
  Result<Package> opened = open_hwpx_package(bytes);
  if (!opened) return std::move(opened).error();
  const Package& package = opened.value();

  Result<Part> hpf = read_content_part(package);
  if (!hpf) return std::move(hpf).error();
  Result<std::vector<std::string>> sections = section_parts(package, hpf->bytes);
  if (!sections) return std::move(sections).error();

  try {
    std::vector<Warning> warnings;
    if (profile == Profile::Minimal) {
      MarkdownWriter writer;
      walk_sections(package, sections.value(), writer, warnings);
      return DocumentText{writer.finish(), std::move(warnings)};
    }
    const DocumentStyles styles = read_header_definitions(package);
    DocumentBuilder builder(styles);
    walk_sections(package, sections.value(), builder, warnings);
    return DocumentText{render_markdown(builder.finish(), 0, {}, headers_footers),
                        std::move(warnings)};
  } catch (const OutputLimitExceeded&) {
    return output_limit_error();
  }
}

}  // namespace paravox
