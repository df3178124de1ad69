// Times, over a list of HWPX files, what any conversion of them must do at least: read the
// file, find in the ZIP central directory the parts the conversion reads (the mimetype, the
// manifest, the package description and the section parts) and inflate each with zlib. With
// --mode convert it times the core's whole HWPX conversion of the same bytes instead (the
// minimal profile; --mode full the full one), and with --mode convert-hwp the binary
// conversion of .hwp files (for twins side by side). --mode expat is the floor plus a pass
// of expat over each section part with no handlers set, and --mode xml the same with our XML
// reader (its handler skips the root): how much of the conversion is the XML tokenizer itself.
// --mode definitions is the floor plus opening the package and reading its definitions
// (header.xml) and metadata (content.hpf); --mode floor-full the floor plus inflating
// header.xml, which the full profile reads besides: its floor.
//
// Usage: paravox_hwpx_floor
//            [--mode floor|floor-full|expat|xml|definitions|convert|full|convert-hwp]
//                           [--rounds N] FILE...
// Prints one JSON object like paravox_floor's: the best round's wall and CPU seconds.

#include <expat.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "convert.h"
#include "hwpx/header.h"
#include "hwpx/hwpx.h"
#include "hwpx/package.h"
#include "hwpx/xml.h"

namespace {

struct Totals {
  std::uint64_t file_bytes = 0;
  std::uint64_t inflated_bytes = 0;
  std::uint64_t sections = 0;
  std::uint64_t failed_documents = 0;
  std::uint64_t output_bytes = 0;
  std::uint64_t definitions = 0;  // definitions mode: paragraph properties and styles
};

// The whole file in one read (the size from seeking to the end).
std::vector<std::uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<std::uint8_t> bytes;
  if (!in) return bytes;
  bytes.resize(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

std::uint32_t u16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return u16(b, at) | (u16(b, at + 2) << 16);
}

// Inflates raw DEFLATE into a buffer sized by the declared size (grown when it lies short);
// returns the inflated size, or nothing on a damaged stream.
bool inflate_part(const std::uint8_t* data, std::size_t size, std::size_t declared,
                  std::vector<std::uint8_t>& out) {
  out.resize(declared > 0 && declared < (256u << 20) ? declared : 65536);
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  int status = Z_OK;
  while (true) {
    if (stream.total_out == out.size()) out.resize(out.size() * 2);
    stream.next_out = out.data() + stream.total_out;
    stream.avail_out = static_cast<uInt>(out.size() - stream.total_out);
    status = inflate(&stream, Z_NO_FLUSH);
    // Done, damaged, or the input ran out before the output did.
    if (status != Z_OK && status != Z_BUF_ERROR) break;
    if (stream.avail_out != 0) break;
  }
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return status == Z_STREAM_END;
}

// The end of central directory record: the last "PK\5\6" in the file's final 64 KiB + 22.
std::size_t find_end_record(const std::vector<std::uint8_t>& file) {
  if (file.size() < 22) return std::string::npos;
  const std::size_t lowest = file.size() > 65557 ? file.size() - 65557 : 0;
  for (std::size_t at = file.size() - 21; at-- > lowest;) {
    if (u32(file, at) == 0x06054B50) return at;
  }
  return std::string::npos;
}

enum class Tokenizer { None, Expat, Ours };

// Reads a part and passes over the whole of it.
class SkipRoot final : public paravox::XmlHandler {
 public:
  paravox::XmlVisit start_element(const paravox::XmlStartTag&) override {
    return paravox::XmlVisit::Skip;
  }
  void end_element() override {}
  void character_data(std::string_view) override {}
};

// Tokenizes `xml` with expat (no handlers set) or our reader; false when it is not
// well-formed.
bool tokenize(Tokenizer tokenizer, const std::uint8_t* xml, std::size_t size) {
  if (tokenizer == Tokenizer::Ours) {
    SkipRoot handler;
    return paravox::read_xml(paravox::Bytes(xml, size), "part", handler).ok();
  }
  XML_Parser parser = XML_ParserCreate(nullptr);
  const bool ok = XML_Parse(parser, reinterpret_cast<const char*>(xml), static_cast<int>(size),
                            XML_TRUE) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

bool is_section_part(std::string_view name) {
  return name.starts_with("Contents/section") && name.ends_with(".xml");
}

// The parts a conversion reads besides the sections.
bool is_package_part(std::string_view name) {
  return name == "mimetype" || name == "META-INF/manifest.xml" || name == "Contents/content.hpf";
}

void read_definitions(const std::vector<std::uint8_t>& file, Totals& totals) {
  auto package = paravox::Package::open(paravox::Bytes(file));
  if (!package) return;
  const paravox::DocumentStyles styles = paravox::read_document_styles(*package);
  totals.definitions += styles.para_shapes.size() + styles.styles.size();
  const paravox::Metadata metadata = paravox::read_metadata(*package);
  totals.definitions += metadata.created.has_value();
}

void read_floor(const std::string& path, Totals& totals, Tokenizer tokenizer, bool definitions,
                bool with_header) {
  const std::vector<std::uint8_t> file = read_file(path);
  if (definitions) read_definitions(file, totals);
  totals.file_bytes += file.size();
  const std::size_t end = find_end_record(file);
  if (end == std::string::npos) {
    ++totals.failed_documents;
    return;
  }
  const std::uint32_t count = u16(file, end + 10);
  std::size_t at = u32(file, end + 16);
  std::vector<std::uint8_t> inflated;
  for (std::uint32_t k = 0; k < count && at + 46 <= file.size(); ++k) {
    const std::uint32_t method = u16(file, at + 10);
    const std::uint32_t packed = u32(file, at + 20);
    const std::uint32_t declared = u32(file, at + 24);
    const std::uint32_t name_size = u16(file, at + 28);
    const std::size_t next = at + 46 + name_size + u16(file, at + 30) + u16(file, at + 32);
    const std::uint32_t local = u32(file, at + 42);
    if (at + 46 + name_size > file.size()) break;
    const std::string_view name(reinterpret_cast<const char*>(file.data() + at + 46), name_size);
    at = next;
    const bool section = is_section_part(name);
    const bool read =
        section || is_package_part(name) || (with_header && name == "Contents/header.xml");
    if (!read || local + 30 > file.size()) continue;
    const std::size_t data = local + 30 + u16(file, local + 26) + u16(file, local + 28);
    if (data > file.size() || packed > file.size() - data) continue;
    const Tokenizer parse = section ? tokenizer : Tokenizer::None;
    if (method == 0) {
      totals.inflated_bytes += packed;
      if (parse != Tokenizer::None) tokenize(parse, file.data() + data, packed);
    } else if (inflate_part(file.data() + data, packed, declared, inflated)) {
      totals.inflated_bytes += inflated.size();
      if (parse != Tokenizer::None) tokenize(parse, inflated.data(), inflated.size());
    }
    if (section) ++totals.sections;
  }
}

void convert_hwpx(const std::string& path, paravox::Profile profile, Totals& totals) {
  const std::vector<std::uint8_t> file = read_file(path);
  totals.file_bytes += file.size();
  auto markdown = paravox::hwpx_to_markdown(paravox::Bytes(file), profile);
  if (!markdown) {
    ++totals.failed_documents;
    return;
  }
  totals.output_bytes += markdown->markdown.size();
}

void convert_hwp(const std::string& path, Totals& totals) {
  auto markdown = paravox::hwp_to_markdown(path);
  if (!markdown) {
    ++totals.failed_documents;
    return;
  }
  totals.output_bytes += markdown->size();
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = "floor";
  int rounds = 5;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--mode" && i + 1 < argc) {
      mode = argv[++i];
    } else if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::stoi(argv[++i]);
    } else {
      paths.emplace_back(arg);
    }
  }
  if ((mode != "floor" && mode != "floor-full" && mode != "expat" && mode != "xml" &&
       mode != "definitions" && mode != "convert" && mode != "full" && mode != "convert-hwp") ||
      rounds < 1 || paths.empty()) {
    std::fprintf(stderr,
                 "usage: paravox_hwpx_floor [--mode "
                 "floor|floor-full|expat|xml|definitions|convert|full|convert-hwp] "
                 "[--rounds N] FILE...\n");
    return 2;
  }

  Totals totals;
  double best = 1e300;
  double best_cpu = 1e300;
  // One untimed round warms the page cache and the allocator.
  for (int round = 0; round <= rounds; ++round) {
    Totals this_round;
    const std::clock_t cpu_start = std::clock();
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& path : paths) {
      if (mode == "floor" || mode == "floor-full" || mode == "expat" || mode == "xml" ||
          mode == "definitions") {
        read_floor(path, this_round,
                   mode == "expat" ? Tokenizer::Expat
                   : mode == "xml" ? Tokenizer::Ours
                                   : Tokenizer::None,
                   mode == "definitions", mode == "floor-full");
      } else if (mode == "convert" || mode == "full") {
        convert_hwpx(path, mode == "full" ? paravox::Profile::Full : paravox::Profile::Minimal,
                     this_round);
      } else {
        convert_hwp(path, this_round);
      }
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    if (round > 0 && elapsed.count() < best) best = elapsed.count();
    if (round > 0 && cpu < best_cpu) best_cpu = cpu;
    totals = this_round;
  }
  std::printf(
      "{\"mode\": \"%s\", \"documents\": %zu, \"rounds\": %d, \"best_seconds\": %.9f, "
      "\"best_cpu_seconds\": %.9f, \"file_bytes\": %llu, "
      "\"inflated_bytes\": %llu, \"sections\": %llu, \"failed_documents\": %llu, "
      "\"output_bytes\": %llu, \"definitions\": %llu}\n",
      mode.c_str(), paths.size(), rounds, best, best_cpu,
      static_cast<unsigned long long>(totals.file_bytes),
      static_cast<unsigned long long>(totals.inflated_bytes),
      static_cast<unsigned long long>(totals.sections),
      static_cast<unsigned long long>(totals.failed_documents),
      static_cast<unsigned long long>(totals.output_bytes),
      static_cast<unsigned long long>(totals.definitions));
  return 0;
}
