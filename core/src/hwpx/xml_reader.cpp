#include "hwpx/xml_reader.h"

#include <expat.h>

#include <climits>
#include <cstring>
#include <memory>
#include <new>

namespace paravox {
namespace {

enum class Refusal { None, Entity, TooDeep };

struct Reading {
  XML_Parser parser;
  XmlHandler& handler;
  std::size_t depth = 0;
  Refusal refusal = Refusal::None;
};

void stop(Reading& reading, Refusal refusal) {
  if (reading.refusal != Refusal::None) return;
  reading.refusal = refusal;
  XML_StopParser(reading.parser, XML_FALSE);
}

void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto& reading = *static_cast<Reading*>(data);
  if (++reading.depth > kMaxElementDepth) {
    stop(reading, Refusal::TooDeep);
    return;
  }
  reading.handler.start_element(local_name(name), attributes);
}

void XMLCALL on_end(void* data, const XML_Char*) {
  auto& reading = *static_cast<Reading*>(data);
  // After a stop expat may still report the end of the element it was in.
  if (reading.refusal != Refusal::None) return;
  --reading.depth;
  reading.handler.end_element();
}

void XMLCALL on_text(void* data, const XML_Char* text, int length) {
  auto& reading = *static_cast<Reading*>(data);
  if (reading.refusal != Refusal::None) return;
  reading.handler.character_data({text, static_cast<std::size_t>(length)});
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

const char* attribute(const char** attributes, std::string_view name) noexcept {
  for (const char** a = attributes; a[0] && a[1]; a += 2) {
    if (local_name(a[0]) == name) return a[1];
  }
  return nullptr;
}

std::string_view local_name(std::string_view name) noexcept {
  const std::size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

Status read_xml(Bytes xml, std::string_view part_name, XmlHandler& handler) {
  std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreate(nullptr));
  if (!parser) throw std::bad_alloc();
  Reading reading{parser.get(), handler};
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
    const std::size_t piece = std::min<std::size_t>(xml.size() - offset, INT_MAX / 2);
    const bool last = offset + piece == xml.size();
    status = XML_Parse(parser.get(), reinterpret_cast<const char*>(xml.data() + offset),
                       static_cast<int>(piece), last);
    offset += piece;
    if (status != XML_STATUS_OK || last) break;
  } while (true);

  const std::string part(part_name);
  switch (reading.refusal) {
    case Refusal::Entity:
      return ConvertError::package(part + " declares XML entities");
    case Refusal::TooDeep:
      return ConvertError::package(part + " nests elements deeper than " +
                                   std::to_string(kMaxElementDepth));
    case Refusal::None:
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
