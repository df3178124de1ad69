// Streaming XML reading with expat, closed to entities and bounded in depth.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/byte_cursor.h"
#include "base/error.h"

namespace paravox {

// Elements nested deeper than this end the reading: real parts nest about 25 deep, and the
// bound keeps the element stacks of the parser and of its handler small.
inline constexpr std::size_t kMaxElementDepth = 256;

// Receives the events of one XML part. Names are local: the prefix before ':' is dropped,
// since writers choose prefixes (and namespace years) freely.
class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  // `attributes` alternates names and values, ending with a null pointer; names keep their
  // prefix (use attribute()).
  virtual void start_element(std::string_view local_name, const char** attributes) = 0;
  virtual void end_element() = 0;
  virtual void character_data(std::string_view text) = 0;
};

// The value of the attribute whose local name is `local_name`, or nothing.
const char* attribute(const char** attributes, std::string_view local_name) noexcept;

// The part of `name` after its last ':'.
std::string_view local_name(std::string_view name) noexcept;

// Reads `xml` (UTF-8, or the encoding its declaration names where expat knows it) and
// hands its events to `handler`. Fails with a Package error naming `part_name` when the part
// is not well-formed XML, declares entities (none is ever expanded, and nothing outside the
// part is loaded) or nests elements deeper than kMaxElementDepth.
Status read_xml(Bytes xml, std::string_view part_name, XmlHandler& handler);

}  // namespace paravox
