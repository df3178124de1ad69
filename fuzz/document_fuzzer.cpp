// The whole pipeline over arbitrary file bytes, through the entry points the module calls.
// The bytes go to an in-memory file opened by its /proc path, as a user's path would be.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_checks.h"
#include "hwp/driver.h"

using paravox::fuzz::require;

namespace {

// One memory file for the whole run, rewritten for every input.
int memory_file() {
  static const int fd = memfd_create("paravox-fuzz", MFD_CLOEXEC);
  require(fd >= 0, "memfd_create works");
  return fd;
}

// The lowest free descriptor number; it stays the same across calls that close what they open.
int lowest_free_descriptor() {
  const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
  require(probe >= 0, "/dev/null opens");
  close(probe);
  return probe;
}

void write_input(int fd, const std::uint8_t* data, std::size_t size) {
  require(ftruncate(fd, 0) == 0, "the memory file truncates");
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    require(n > 0, "the memory file takes the input");
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = memory_file();
  write_input(fd, data, size);
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const int free_before = lowest_free_descriptor();

  const auto markdown = paravox::hwp_to_markdown(path);
  if (markdown) {
    require(paravox::fuzz::is_valid_utf8(markdown.value()), "Markdown is valid UTF-8");
  } else {
    require(!markdown.error().message().empty(), "an error has a message");
  }

  const auto section = paravox::read_first_section(path);
  if (section) {
    paravox::for_each_record(
        section.value(), [](std::uint16_t tag_id, std::uint16_t level, paravox::Bytes) {
          require(tag_id <= 1023 && level <= 1023, "tag and level are 10-bit values");
        });
  } else {
    require(!section.error().message().empty(), "an error has a message");
  }

  require(lowest_free_descriptor() == free_before, "every descriptor opened is closed");
  return 0;
}
