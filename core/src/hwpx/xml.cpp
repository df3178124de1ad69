#include "hwpx/xml.h"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace paravox {
namespace {

// The whole part goes to expat in one call when it can: expat scans an unfinished token
// again from its start at every call, so feeding a long token in pieces costs the square
// of its length. Only a part past this size (never one within the inflation ceiling) is cut.
constexpr std::size_t kLargestPiece = std::size_t{1} << 30;

enum class Refusal { None, Entity, TooDeep, Thrown };

struct Reading {
  Reading(XML_Parser p, XmlHandler& h) : parser(p), handler(h) {}

  XML_Parser parser;
  XmlHandler& handler;
  std::size_t depth = 0;
  // Depth of the element being skipped, counted from it; 0 while elements are visited.
  std::size_t skipped = 0;
  std::vector<XmlAttribute> attributes;
  Refusal refusal = Refusal::None;
  std::exception_ptr thrown;  // rethrown once expat has returned
};

void stop(Reading& reading, Refusal refusal) {
  if (reading.refusal != Refusal::None) return;
  reading.refusal = refusal;
  XML_StopParser(reading.parser, XML_FALSE);
}

// Runs a handler call; an exception (the output ceiling, memory) must not unwind through
// expat's C frames, so it stops the parser and waits to be rethrown.
template <class Call>
void guarded(Reading& reading, Call&& call) noexcept {
  try {
    call();
  } catch (...) {
    reading.thrown = std::current_exception();
    stop(reading, Refusal::Thrown);
  }
}

void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto& reading = *static_cast<Reading*>(data);
  if (reading.refusal != Refusal::None) return;
  if (++reading.depth > kMaxElementDepth) {
    stop(reading, Refusal::TooDeep);
    return;
  }
  if (reading.skipped > 0) {
    ++reading.skipped;
    return;
  }
  guarded(reading, [&] {
    reading.attributes.clear();
    for (const XML_Char** a = attributes; a[0] && a[1]; a += 2) {
      reading.attributes.push_back({a[0], a[1]});
    }
    const XmlVisit visit = reading.handler.start_element(XmlStartTag(name, reading.attributes));
    if (visit == XmlVisit::Skip) reading.skipped = 1;
  });
}

void XMLCALL on_end(void* data, const XML_Char*) {
  auto& reading = *static_cast<Reading*>(data);
  // After a stop expat may still report the end of the element it was in.
  if (reading.refusal != Refusal::None) return;
  --reading.depth;
  if (reading.skipped > 0) {
    --reading.skipped;
    return;
  }
  guarded(reading, [&] { reading.handler.end_element(); });
}

void XMLCALL on_text(void* data, const XML_Char* text, int length) {
  auto& reading = *static_cast<Reading*>(data);
  if (reading.refusal != Refusal::None || reading.skipped > 0 || reading.depth == 0) return;
  guarded(reading, [&] {
    reading.handler.character_data({text, static_cast<std::size_t>(length)});
  });
}

// Any entity declaration, internal or external, general or parameter, ends the reading:
// HWPX parts declare none, and refusing them is simpler than reasoning about expansion.
void XMLCALL on_entity_declaration(void* data, const XML_Char*, int, const XML_Char*, int,
                                   const XML_Char*, const XML_Char*, const XML_Char*,
                                   const XML_Char*) {
  stop(*static_cast<Reading*>(data), Refusal::Entity);
}

struct ParserDeleter {
  void operator()(XML_Parser parser) const noexcept { XML_ParserFree(parser); }
};

}  // namespace

std::string_view local_name(std::string_view name) noexcept {
  const std::size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

Status read_xml(Bytes xml, std::string_view part_name, XmlHandler& handler) {
  std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreate(nullptr));
  if (!parser) throw std::bad_alloc();
  Reading reading(parser.get(), handler);
  XML_SetUserData(parser.get(), &reading);
  XML_SetElementHandler(parser.get(), on_start, on_end);
  XML_SetCharacterDataHandler(parser.get(), on_text);
  XML_SetEntityDeclHandler(parser.get(), on_entity_declaration);
  // No external entity handler is set and parameter entities stay unparsed (expat's
  // default), so nothing outside the part is ever read.
  XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);

  std::size_t offset = 0;
  XML_Status status = XML_STATUS_OK;
  do {
    const std::size_t piece = std::min(xml.size() - offset, kLargestPiece);
    const bool last = offset + piece == xml.size();
    static_assert(kLargestPiece <= INT_MAX);
    status = XML_Parse(parser.get(), reinterpret_cast<const char*>(xml.data() + offset),
                       static_cast<int>(piece), last);
    offset += piece;
    if (status != XML_STATUS_OK || last) break;
  } while (true);

  if (reading.thrown) std::rethrow_exception(reading.thrown);
  const std::string part(part_name);
  switch (reading.refusal) {
    case Refusal::Entity:
      return ConvertError::package(part + " declares XML entities");
    case Refusal::TooDeep:
      return ConvertError::package(part + " nests elements deeper than " +
                                   std::to_string(kMaxElementDepth));
    case Refusal::None:
    case Refusal::Thrown:
      break;
  }
  if (status != XML_STATUS_OK) {
    const XML_Error code = XML_GetErrorCode(parser.get());
    if (code == XML_ERROR_NO_MEMORY) throw std::bad_alloc();
    return ConvertError::package(part + " is not well-formed XML (line " +
                                 std::to_string(XML_GetCurrentLineNumber(parser.get())) + ": " +
                                 XML_ErrorString(code) + ")");
  }
  return {};
}

}  // namespace paravox
