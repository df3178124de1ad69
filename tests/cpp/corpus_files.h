// The shared corpus of real documents beside the repository (../shared/corpus, or
// $PARAVOX_CORPUS), for the tests that read it and skip without it.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace paravox::test {

inline std::filesystem::path corpus_root() {
  if (const char* dir = std::getenv("PARAVOX_CORPUS")) return dir;
  return std::filesystem::path(PARAVOX_SOURCE_DIR).parent_path() / "shared" / "corpus";
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The files of `dir` with `extension`, sorted.
inline std::vector<std::filesystem::path> files_in(const std::filesystem::path& dir,
                                                   const std::string& extension) {
  std::vector<std::filesystem::path> out;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() == extension) out.push_back(entry.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace paravox::test
