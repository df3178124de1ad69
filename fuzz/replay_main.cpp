// A main for the fuzz targets when they are built without libFuzzer: runs the target once
// over every file named on the command line, and over every file below each named directory,
// so the regression inputs are replayed by any compiler. Arguments starting with '-' are
// libFuzzer options and are ignored, so one command line serves both builds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool replay_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  // An empty vector's data() may be null; the fuzz contract allows any pointer for size 0.
  static const std::uint8_t kNothing = 0;
  const auto* data =
      bytes.empty() ? &kNothing : reinterpret_cast<const std::uint8_t*>(bytes.data());
  LLVMFuzzerTestOneInput(data, bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg.starts_with("-")) continue;
    std::error_code error;
    const fs::path path(arg);
    if (fs::is_directory(path, error)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::recursive_directory_iterator(path, error)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      if (error) {
        std::fprintf(stderr, "cannot list %s: %s\n", arg.c_str(), error.message().c_str());
        return 1;
      }
      std::sort(files.begin(), files.end());  // a fixed order makes failures repeatable
      for (const auto& file : files) {
        if (!replay_file(file)) return 1;
        ++replayed;
      }
    } else if (fs::is_regular_file(path, error)) {
      if (!replay_file(path)) return 1;
      ++replayed;
    } else {
      std::fprintf(stderr, "no such input: %s\n", arg.c_str());
      return 1;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return 0;
}
