// Times, over a list of documents, what any conversion must do at least: open the container,
// read the FileHeader, read and inflate every body section until the first that fails. With
// --mode convert it times the core's whole conversion instead, from C++ (no Python call): the
// minimal profile, as `_paravox` runs it; --mode full times the full profile on the same route.
// With --mode definitions the floor and, besides, the document's definitions and metadata
// (under callgrind, their functions' inclusive costs set the one against the other).
//
// Usage: paravox_floor [--mode floor|convert|full|definitions] [--rounds N] FILE...
// Prints one JSON object: the best round's wall and CPU seconds (each the best of its own)
// and what the documents hold.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert.h"
#include "hwp/container.h"
#include "hwp/docinfo.h"
#include "hwp/driver.h"
#include "hwp/section.h"
#include "hwp/summary.h"

namespace {

struct Totals {
  std::uint64_t inflated_bytes = 0;
  std::uint64_t sections = 0;
  std::uint64_t failed_documents = 0;  // open or FileHeader refused
  std::uint64_t output_bytes = 0;      // convert mode: Markdown bytes
  std::uint64_t definitions = 0;       // definitions mode: paragraph shapes and styles
};

void read_floor(const std::string& path, Totals& totals, bool definitions) {
  auto container = paravox::open_container(path);
  if (!container) {
    ++totals.failed_documents;
    return;
  }
  auto header = paravox::read_file_header(*container);
  if (!header) {
    ++totals.failed_documents;
    return;
  }
  for (std::uint32_t k = 0;; ++k) {
    auto section = paravox::read_section_stream(*container, paravox::section_stream_path(k),
                                                header->compressed());
    if (!section) break;
    totals.inflated_bytes += section->bytes.size();
    ++totals.sections;
  }
  if (!definitions) return;
  auto styles = paravox::read_document_styles(*container, header->compressed());
  if (styles) totals.definitions += styles->para_shapes.size() + styles->styles.size();
  const paravox::Metadata metadata = paravox::read_metadata(*container);
  totals.definitions += metadata.created.has_value();
}

paravox::Result<std::string> convert_full(const std::string& path) {
  auto document = paravox::open_hwp_document(paravox::open_container(path));
  if (!document) return std::move(document).error();
  auto text = paravox::convert_body(document.value(), paravox::Profile::Full);
  if (!text) return std::move(text).error();
  return std::move(text->markdown);
}

void convert(const std::string& path, bool full, Totals& totals) {
  auto markdown = full ? convert_full(path) : paravox::hwp_to_markdown(path);
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
  if ((mode != "floor" && mode != "convert" && mode != "full" && mode != "definitions") ||
      rounds < 1 || paths.empty()) {
    std::fprintf(stderr,
                 "usage: paravox_floor [--mode floor|convert|full|definitions] [--rounds N] "
                 "FILE...\n");
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
      if (mode == "floor" || mode == "definitions") {
        read_floor(path, this_round, mode == "definitions");
      } else {
        convert(path, mode == "full", this_round);
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
      "\"best_cpu_seconds\": %.9f, "
      "\"inflated_bytes\": %llu, \"sections\": %llu, \"failed_documents\": %llu, "
      "\"output_bytes\": %llu, \"definitions\": %llu}\n",
      mode.c_str(), paths.size(), rounds, best, best_cpu,
      static_cast<unsigned long long>(totals.inflated_bytes),
      static_cast<unsigned long long>(totals.sections),
      static_cast<unsigned long long>(totals.failed_documents),
      static_cast<unsigned long long>(totals.output_bytes),
      static_cast<unsigned long long>(totals.definitions));
  return 0;
}
