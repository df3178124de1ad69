// The HWPX route over arbitrary bytes. An input that starts like a ZIP archive ("PK") is a
// whole package; any other input is the XML of a section part, which the target wraps in a
// package of stored entries, so that mutations reach the XML walk instead of being spent
// on DEFLATE bytes. Either way the bytes go through hwpx_to_markdown, in both profiles, which
// must fail alike.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "fuzz_checks.h"
#include "hwpx/hwpx.h"

using paravox::fuzz::require;

namespace {

void put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

struct StoredEntry {
  std::string_view name;
  const std::uint8_t* data;
  std::size_t size;
};

// A ZIP archive holding `entries` uncompressed, in order.
std::vector<std::uint8_t> stored_zip(const std::vector<StoredEntry>& entries) {
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> directory;
  for (const StoredEntry& entry : entries) {
    const auto offset = static_cast<std::uint32_t>(out.size());
    const auto crc =
        static_cast<std::uint32_t>(crc32(0, entry.data, static_cast<uInt>(entry.size)));
    const auto size = static_cast<std::uint32_t>(entry.size);
    const auto name_size = static_cast<std::uint32_t>(entry.name.size());
    put32(out, 0x04034B50);
    for (std::uint32_t v : {20u, 0u, 0u, 0u, 0x21u})
      put16(out, v);  // version, flags, method, time, date
    put32(out, crc);
    put32(out, size);
    put32(out, size);
    put16(out, name_size);
    put16(out, 0);
    out.insert(out.end(), entry.name.begin(), entry.name.end());
    out.insert(out.end(), entry.data, entry.data + entry.size);

    put32(directory, 0x02014B50);
    for (std::uint32_t v : {20u, 20u, 0u, 0u, 0u, 0x21u}) put16(directory, v);
    put32(directory, crc);
    put32(directory, size);
    put32(directory, size);
    for (std::uint32_t v : {name_size, 0u, 0u, 0u, 0u}) put16(directory, v);
    put32(directory, 0);
    put32(directory, offset);
    directory.insert(directory.end(), entry.name.begin(), entry.name.end());
  }
  const auto directory_offset = static_cast<std::uint32_t>(out.size());
  out.insert(out.end(), directory.begin(), directory.end());
  put32(out, 0x06054B50);
  for (std::uint32_t v : {0u, 0u}) put16(out, v);
  put16(out, static_cast<std::uint32_t>(entries.size()));
  put16(out, static_cast<std::uint32_t>(entries.size()));
  put32(out, static_cast<std::uint32_t>(directory.size()));
  put32(out, directory_offset);
  put16(out, 0);
  return out;
}

constexpr std::string_view kMimetype = "application/hwp+zip";
constexpr std::string_view kContent =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<opf:package xmlns:opf=\"http://www.idpf.org/2007/opf/\"><opf:manifest>"
    "<opf:item id=\"section0\" href=\"Contents/section0.xml\" media-type=\"application/xml\"/>"
    "</opf:manifest><opf:spine><opf:itemref idref=\"section0\"/></opf:spine></opf:package>";

const std::uint8_t* bytes_of(std::string_view text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

std::vector<std::uint8_t> package_around_section(const std::uint8_t* data, std::size_t size) {
  return stored_zip({{"mimetype", bytes_of(kMimetype), kMimetype.size()},
                     {"Contents/content.hpf", bytes_of(kContent), kContent.size()},
                     {"Contents/section0.xml", data, size}});
}

bool is_white_space_byte(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const bool whole_package = size >= 2 && data[0] == 'P' && data[1] == 'K';
  std::vector<std::uint8_t> wrapped;
  if (!whole_package) wrapped = package_around_section(data, size);
  const paravox::Bytes package =
      whole_package ? paravox::Bytes(data, size) : paravox::Bytes(wrapped);

  for (const paravox::Profile profile : {paravox::Profile::Minimal, paravox::Profile::Full}) {
    // The full profile writes every layer of its model, headers and footers too.
    const auto markdown =
        paravox::hwpx_to_markdown(package, profile, profile == paravox::Profile::Full);
    if (markdown) {
      const std::string& text = markdown.value().markdown;
      for (const paravox::Warning& warning : markdown.value().warnings) {
        require(!warning.message.empty() && warning.message.find('\n') == std::string::npos,
                "a warning is one line");
      }
      require(text.size() <= paravox::kOutputLimit, "Markdown stays under the ceiling");
      require(paravox::fuzz::is_valid_utf8(text), "Markdown is valid UTF-8");
      require(text.empty() || !is_white_space_byte(text.back()), "trailing white space is trimmed");
      continue;
    }
    const paravox::ConvertError& error = markdown.error();
    require(!error.message().empty(), "an error has a message");
    require(error.message().find('\n') == std::string::npos, "an error message is one line");
    const paravox::ErrorKind kind = error.kind();
    require(kind == paravox::ErrorKind::Package || kind == paravox::ErrorKind::NotHwpxPackage ||
                kind == paravox::ErrorKind::PasswordProtected || kind == paravox::ErrorKind::Parse,
            "an HWPX failure is a package, not-a-package, password or ceiling error");
    if (!whole_package) {
      // The wrapper is a sound package: only the output ceiling can fail it.
      require(kind == paravox::ErrorKind::Parse, "a sound package fails only at the ceiling");
    }
  }
  return 0;
}
