// Google Benchmark over the stages of a conversion, fed with the body sections of real
// documents. MB/s counts the stage's input bytes, except render_table, which counts the
// Markdown it writes.
//
// Usage: paravox_micro [benchmark flags] DIR...   (every *.hwp below each DIR)

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "base/inflate.h"
#include "document/block.h"
#include "document/markdown.h"
#include "hwp/container.h"
#include "hwp/driver.h"
#include "hwp/records.h"
#include "hwp/section.h"
#include "hwp/text.h"

namespace {

// Everything the benchmarks read, loaded once.
struct Corpus {
  std::vector<std::string> paths;               // documents that open
  std::vector<paravox::ByteBuffer> compressed;  // stored section streams
  std::vector<paravox::ByteBuffer> sections;    // inflated (or stored) sections
  std::vector<paravox::RecordList> records;     // per section, viewing `sections`
  std::vector<paravox::Bytes> para_texts;       // every PARA_TEXT payload
  std::vector<paravox::Table> tables;           // every table the walk produced
  std::vector<paravox::Block> blocks;           // every block, for assembly
  std::uint64_t section_bytes = 0;
  std::uint64_t compressed_bytes = 0;
  std::uint64_t inflated_compressed_bytes = 0;  // output of `compressed`
  std::uint64_t para_text_bytes = 0;
  std::uint64_t table_markdown_bytes = 0;
};

Corpus g_corpus;

void load_document(const std::string& path) {
  auto container = paravox::open_container(path);
  if (!container) return;
  auto header = paravox::read_file_header(*container);
  if (!header) return;
  g_corpus.paths.push_back(path);
  for (std::uint32_t k = 0;; ++k) {
    const std::string name = paravox::section_stream_path(k);
    auto stored = container->read_stream(name);
    if (!stored) break;
    auto section = header->compressed() ? paravox::inflate_raw(*stored) : std::move(stored);
    if (!section) break;
    if (header->compressed()) {
      g_corpus.compressed_bytes += stored->size();
      g_corpus.inflated_compressed_bytes += section->size();
      g_corpus.compressed.push_back(std::move(*stored));
    }
    g_corpus.section_bytes += section->size();
    g_corpus.sections.push_back(std::move(*section));
  }
}

void load(const std::vector<std::string>& dirs) {
  for (const std::string& dir : dirs) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
      if (entry.is_regular_file() && entry.path().extension() == ".hwp") {
        found.push_back(entry.path().string());
      }
    }
    std::sort(found.begin(), found.end());
    for (const std::string& path : found) load_document(path);
  }
  // Buffers moved into `sections` keep their storage, so records may view it from here on.
  for (const auto& section : g_corpus.sections) {
    g_corpus.records.push_back(paravox::parse_records(section));
    for (const paravox::Record& record : g_corpus.records.back()) {
      if (record.tag_id == paravox::tag::kParaText) {
        g_corpus.para_texts.push_back(record.data());
        g_corpus.para_text_bytes += record.data().size();
      }
    }
    std::vector<paravox::Block> blocks;
    paravox::walk_section(g_corpus.records.back(), blocks);
    for (paravox::Block& block : blocks) {
      if (auto* table = std::get_if<paravox::Table>(&block)) g_corpus.tables.push_back(*table);
      g_corpus.blocks.push_back(std::move(block));
    }
  }
  std::string out;
  for (const paravox::Table& table : g_corpus.tables) paravox::render_table(table, out);
  g_corpus.table_markdown_bytes = out.size();
}

void set_bytes(benchmark::State& state, std::uint64_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void open_and_read_header(benchmark::State& state) {
  for (auto _ : state) {
    for (const std::string& path : g_corpus.paths) {
      auto container = paravox::open_container(path);
      benchmark::DoNotOptimize(paravox::read_file_header(*container).ok());
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * g_corpus.paths.size()));
}

void inflate_raw(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& stream : g_corpus.compressed) {
      benchmark::DoNotOptimize(paravox::inflate_raw(stream).ok());
    }
  }
  set_bytes(state, g_corpus.inflated_compressed_bytes);
}

void parse_records(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& section : g_corpus.sections) {
      benchmark::DoNotOptimize(paravox::parse_records(section).size());
    }
  }
  set_bytes(state, g_corpus.section_bytes);
}

void decode_para_text(benchmark::State& state) {
  for (auto _ : state) {
    for (const paravox::Bytes payload : g_corpus.para_texts) {
      benchmark::DoNotOptimize(paravox::decode_para_text(payload).text.size());
    }
  }
  set_bytes(state, g_corpus.para_text_bytes);
}

void walk_section(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& records : g_corpus.records) {
      std::vector<paravox::Block> blocks;
      paravox::walk_section(records, blocks);
      benchmark::DoNotOptimize(blocks.size());
    }
  }
  set_bytes(state, g_corpus.section_bytes);
}

void render_table(benchmark::State& state) {
  for (auto _ : state) {
    std::string out;
    for (const paravox::Table& table : g_corpus.tables) paravox::render_table(table, out);
    benchmark::DoNotOptimize(out.size());
  }
  set_bytes(state, g_corpus.table_markdown_bytes);
}

void assemble_markdown(benchmark::State& state) {
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    const std::string markdown = paravox::assemble_markdown(g_corpus.blocks);
    bytes = markdown.size();
    benchmark::DoNotOptimize(markdown.data());
  }
  set_bytes(state, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::vector<std::string> dirs(argv + 1, argv + argc);
  if (dirs.empty()) {
    std::fprintf(stderr, "usage: paravox_micro [benchmark flags] DIR...\n");
    return 2;
  }
  load(dirs);
  if (g_corpus.sections.empty()) {
    std::fprintf(stderr, "paravox_micro: no readable document below the given folders\n");
    return 1;
  }
  std::fprintf(stderr,
               "paravox_micro: %zu documents, %zu sections (%llu bytes), %zu PARA_TEXT records, "
               "%zu tables\n",
               g_corpus.paths.size(), g_corpus.sections.size(),
               static_cast<unsigned long long>(g_corpus.section_bytes), g_corpus.para_texts.size(),
               g_corpus.tables.size());
  benchmark::RegisterBenchmark("open_container+read_file_header", open_and_read_header);
  benchmark::RegisterBenchmark("inflate_raw", inflate_raw);
  benchmark::RegisterBenchmark("parse_records", parse_records);
  benchmark::RegisterBenchmark("decode_para_text", decode_para_text);
  benchmark::RegisterBenchmark("walk_section", walk_section);
  benchmark::RegisterBenchmark("render_table", render_table);
  benchmark::RegisterBenchmark("assemble_markdown", assemble_markdown);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
