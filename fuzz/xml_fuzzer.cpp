// The XML reader of the HWPX parts against expat on the same bytes, read as UTF-8. Both must
// give the same verdict, and where they accept, the same elements, attributes and character
// data. Inputs with a document type declaration are only read by ours (it refuses internal
// subsets, where expat would expand entities or apply attribute defaults); the reader's own
// refusals (an encoding other than UTF-8, elements nested past its depth limit) must be what expat
// reports for those inputs. Ours runs twice, visiting everything and skipping some elements: the
// verdict must not depend on what a handler skips.
#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz_checks.h"
#include "hwpx/xml.h"

using paravox::fuzz::require;

namespace {

// The events of one reading as text: "<name a=v ...>", "</>", and character data merged
// between tags as "[text]".
class Log {
 public:
  void start(std::string_view name) {
    flush();
    out_ += '<';
    out_ += name;
  }
  void attribute(std::string_view name, std::string_view value) {
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    out_ += value;
    out_ += '"';
  }
  void started() { out_ += ">"; }
  void end() {
    flush();
    out_ += "</>";
  }
  void text(std::string_view text) { pending_ += text; }
  const std::string& finish() {
    flush();
    return out_;
  }

 private:
  void flush() {
    if (pending_.empty()) return;
    out_ += '[';
    out_ += pending_;
    out_ += ']';
    pending_.clear();
  }
  std::string out_;
  std::string pending_;
};

class Recorder final : public paravox::XmlHandler {
 public:
  explicit Recorder(bool skip_some) : skip_some_(skip_some) {}

  paravox::XmlVisit start_element(const paravox::XmlStartTag& tag) override {
    if (skip_some_ && tag.name().size() % 2 == 1) return paravox::XmlVisit::Skip;
    log.start(tag.name());
    for (const paravox::XmlAttribute& a : tag.attributes()) log.attribute(a.name, a.value);
    log.started();
    return paravox::XmlVisit::Children;
  }
  void end_element() override { log.end(); }
  void character_data(std::string_view text) override { log.text(text); }

  Log log;

 private:
  bool skip_some_;
};

struct ExpatReading {
  Log log;
  std::size_t depth = 0;
  std::size_t deepest = 0;
  bool other_encoding = false;
};

void XMLCALL on_start(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto& reading = *static_cast<ExpatReading*>(data);
  reading.deepest = std::max(reading.deepest, ++reading.depth);
  reading.log.start(name);
  for (const XML_Char** a = attributes; a[0] && a[1]; a += 2) reading.log.attribute(a[0], a[1]);
  reading.log.started();
}

void XMLCALL on_end(void* data, const XML_Char*) {
  auto& reading = *static_cast<ExpatReading*>(data);
  --reading.depth;
  reading.log.end();
}

void XMLCALL on_text(void* data, const XML_Char* text, int length) {
  static_cast<ExpatReading*>(data)->log.text({text, static_cast<std::size_t>(length)});
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    const auto lower = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c;
    };
    if (lower(a[k]) != lower(b[k])) return false;
  }
  return true;
}

void XMLCALL on_declaration(void* data, const XML_Char*, const XML_Char* encoding, int) {
  if (encoding != nullptr && !equals_ignoring_case(encoding, "UTF-8")) {
    static_cast<ExpatReading*>(data)->other_encoding = true;
  }
}

// Expat told that the bytes are UTF-8 whatever they declare.
bool read_with_expat(const std::uint8_t* data, std::size_t size, ExpatReading& reading) {
  XML_Parser parser = XML_ParserCreate("UTF-8");
  require(parser != nullptr, "expat has memory");
  XML_SetUserData(parser, &reading);
  XML_SetElementHandler(parser, on_start, on_end);
  XML_SetCharacterDataHandler(parser, on_text);
  XML_SetXmlDeclHandler(parser, on_declaration);
  const bool ok = XML_Parse(parser, reinterpret_cast<const char*>(data), static_cast<int>(size),
                            XML_TRUE) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

enum class Verdict { Accepted, NotWellFormed, DocumentType, Encoding, TooDeep };

Verdict verdict_of(const paravox::Status& status) {
  if (status) return Verdict::Accepted;
  const std::string& text = status.error().text();
  require(status.error().kind() == paravox::ErrorKind::Package, "a refusal is a package error");
  if (text.find("declares XML entities") != std::string::npos ||
      text.find("internal document type subset") != std::string::npos) {
    return Verdict::DocumentType;
  }
  if (text.find("encoding other than UTF-8") != std::string::npos) return Verdict::Encoding;
  if (text.find("nests elements deeper") != std::string::npos) return Verdict::TooDeep;
  require(text.find("is not well-formed XML (line ") != std::string::npos,
          "any other refusal says where the XML breaks");
  return Verdict::NotWellFormed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > INT_MAX) return 0;
  const paravox::Bytes bytes(data, size);
  Recorder visiting(false);
  const Verdict ours = verdict_of(paravox::read_xml(bytes, "part", visiting));
  Recorder skipping(true);
  require(verdict_of(paravox::read_xml(bytes, "part", skipping)) == ours,
          "the verdict does not depend on what the handler skips");

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (text.find("<!DOCTYPE") != std::string_view::npos) return 0;
  require(ours != Verdict::DocumentType, "a document type is refused only where one is declared");

  ExpatReading reading;
  const bool expat_accepts = read_with_expat(data, size, reading);
  if (reading.other_encoding) {
    require(ours == Verdict::Encoding, "an encoding other than UTF-8 is refused");
    return 0;
  }
  require(ours != Verdict::Encoding, "only a declared encoding other than UTF-8 is refused");
  if (reading.deepest > paravox::kMaxElementDepth) {
    require(ours == Verdict::TooDeep, "elements nested past the limit are refused");
    return 0;
  }
  require(ours != Verdict::TooDeep, "only elements nested past the limit are refused as such");
  if ((ours == Verdict::Accepted) != expat_accepts) {
    std::fprintf(stderr, "expat %s, ours %s\n", expat_accepts ? "accepts" : "refuses",
                 expat_accepts ? "refuses" : "accepts");
    require(false, "the same verdict as expat");
  }
  if (expat_accepts && visiting.log.finish() != reading.log.finish()) {
    std::fprintf(stderr, "expat: %s\nours:  %s\n", reading.log.finish().c_str(),
                 visiting.log.finish().c_str());
    require(false, "the same events as expat");
  }
  return 0;
}
