// Reading the XML parts of a package: a streaming reader over a part held in memory that
// hands each element to a handler, which decides whether the element's contents matter.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "base/byte_cursor.h"
#include "base/error.h"

namespace paravox {

// Elements nested deeper than this end the reading: real parts nest about 25 deep, and the
// bound keeps the element stacks of the reader and of its handler small.
inline constexpr std::size_t kMaxElementDepth = 256;

// One attribute of a start tag: its name as written (prefix included) and its value with
// character and entity references replaced and white space normalised, as XML defines.
struct XmlAttribute {
  std::string_view name;
  std::string_view value;
};

// The part of `name` after its last ':'. Writers choose prefixes (and namespace years)
// freely, so elements and attributes are told apart by their local names.
inline std::string_view local_name(std::string_view name) noexcept {
  std::size_t start = name.size();
  while (start > 0 && name[start - 1] != ':') --start;
  return name.substr(start);
}

// A start tag as the reader reports it. Its views are valid only during the call that
// reports it.
class XmlStartTag {
 public:
  XmlStartTag(std::string_view name, std::span<const XmlAttribute> attributes) noexcept
      : name_(name), attributes_(attributes) {}

  // Attributes listed only when asked for, by `list(source)`, which returns the same list
  // every time: most tags are passed on by their name alone.
  using AttributeLister = std::span<const XmlAttribute> (*)(void* source) noexcept;
  XmlStartTag(std::string_view name, AttributeLister list, void* source) noexcept
      : name_(name), list_(list), source_(source) {}

  // As written, prefix included ("hp:tc").
  std::string_view name() const noexcept { return name_; }
  // After the last ':' ("tc").
  std::string_view local_name() const noexcept { return paravox::local_name(name_); }
  std::span<const XmlAttribute> attributes() const noexcept {
    return list_ == nullptr ? attributes_ : list_(source_);
  }

  // The value of the first attribute whose local name is `local`, or nothing.
  std::optional<std::string_view> attribute(std::string_view local) const noexcept {
    for (const XmlAttribute& a : attributes()) {
      if (paravox::local_name(a.name) == local) return a.value;
    }
    return std::nullopt;
  }

 private:
  std::string_view name_;
  std::span<const XmlAttribute> attributes_;
  AttributeLister list_ = nullptr;
  void* source_ = nullptr;
};

// What a handler wants of an element's contents.
enum class XmlVisit : bool {
  Skip,     // pass over the contents and the end tag, reporting nothing
  Children  // report the contents, then end_element
};

// Receives the events of one part. The reader checks the whole part whatever the handler
// skips: a part is well-formed or not on its own, never because of what a handler reads.
// A handler may throw (the output ceiling, memory); the exception leaves read_xml.
class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  // Every element whose parent's children are visited, the root included.
  virtual XmlVisit start_element(const XmlStartTag& tag) = 0;
  // The end of an element whose start_element returned Children.
  virtual void end_element() = 0;
  // Character data (CDATA sections included) directly inside a visited element, in one or
  // more pieces; line ends arrive as "\n".
  virtual void character_data(std::string_view text) = 0;
};

// Reads `xml` and hands its events to `handler`. Fails with a Package error naming
// `part_name` when the part is not well-formed XML, declares entities (none is ever expanded,
// and nothing outside the part is loaded) or nests elements deeper than kMaxElementDepth.
// Time is linear in the part's size, whatever the length of a single token.
Status read_xml(Bytes xml, std::string_view part_name, XmlHandler& handler);

}  // namespace paravox
