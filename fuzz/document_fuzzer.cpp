// The whole pipeline over arbitrary file bytes, through the entry points the modules call.
// The bytes go to an in-memory file opened by its /proc path, as a user's path would be, and
// are also converted where they lie, in both profiles: both routes must come to the same outcome.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "convert.h"
#include "fuzz_checks.h"
#include "hwp/records.h"

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

  for (const paravox::Profile profile : {paravox::Profile::Minimal, paravox::Profile::Full}) {
    // The full profile writes every layer of its model, headers and footers too.
    paravox::ConvertOptions options;
    options.profile = profile;
    options.headers_footers = profile == paravox::Profile::Full;
    paravox::ConvertOptions strict_options = options;
    strict_options.strict = true;
    const paravox::Conversion by_path = paravox::convert_path(path, options);
    const paravox::Conversion in_memory =
        paravox::convert_bytes(paravox::Bytes(data, size), options);
    require(by_path.format == in_memory.format && by_path.markdown == in_memory.markdown &&
                by_path.warnings == in_memory.warnings && by_path.ok() == in_memory.ok(),
            "a file and its bytes convert alike");
    const paravox::Conversion strict =
        paravox::convert_bytes(paravox::Bytes(data, size), strict_options);
    require(strict.ok() == (in_memory.ok() && in_memory.warnings.empty()),
            "strict refuses exactly the documents read in part");
    if (!in_memory.ok()) {
      require(by_path.failure->kind == in_memory.failure->kind &&
                  by_path.failure->message == in_memory.failure->message,
              "a file and its bytes fail alike");
      require(!in_memory.failure->message.empty() &&
                  in_memory.failure->message.find('\n') == std::string::npos,
              "a failure has a one-line message");
    } else {
      require(paravox::fuzz::is_valid_utf8(in_memory.markdown), "Markdown is valid UTF-8");
      require(in_memory.markdown.size() <= paravox::kOutputLimit,
              "Markdown stays under the ceiling");
    }
    if (profile == paravox::Profile::Full) {
      // A document read whole renders the conversion's Markdown, and JSON that parses.
      const paravox::DocumentReading reading =
          paravox::read_document_bytes(paravox::Bytes(data, size), {});
      require(reading.format == in_memory.format && reading.ok() == in_memory.ok() &&
                  reading.warnings == in_memory.warnings,
              "a document reads whole as it converts");
      if (reading.ok()) {
        const auto rendered = paravox::reading_markdown(reading, options);
        require(rendered && rendered.value() == in_memory.markdown,
                "a document read whole renders the conversion's Markdown");
        const auto json = paravox::reading_json(reading);
        require(!json || paravox::fuzz::is_valid_utf8(json.value()), "JSON is valid UTF-8");
      }
    }
    // What the binary reader converts is a compound file, converted by the front door alike in
    // the minimal profile, unless it is a distribution document, which the front door refuses.
    if (markdown && profile == paravox::Profile::Minimal) {
      const bool refused =
          !in_memory.ok() && in_memory.failure->kind == paravox::FailureKind::Distribution;
      require(in_memory.format == paravox::DocumentFormat::Hwp &&
                  (refused || (in_memory.ok() && in_memory.markdown == markdown.value())),
              "the front door keeps the binary reader's Markdown");
    }
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
