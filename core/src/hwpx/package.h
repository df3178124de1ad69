// The ZIP package of an HWPX document, read from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/byte_cursor.h"
#include "base/error.h"
#include "base/large_memory.h"

namespace paravox {

// Most entries a package may list, like the bound on a compound file's directory.
inline constexpr std::size_t kMaxPackageEntries = 8192;

// Most bytes the parts read from one package may give together (512 MiB), stored or inflated:
// each part is bounded by kOutputLimit, and this bounds the work of a package naming many.
inline constexpr std::size_t kPackageInflationBudget = std::size_t{512} << 20;

// What a ZIP archive without the HWPX mimetype appears to be (ConvertError::not_hwpx_package).
inline constexpr std::string_view kNotHwpxOoxml = "an Office Open XML package (DOCX, XLSX or PPTX)";
inline constexpr std::string_view kNotHwpxOdf = "an OpenDocument package";
inline constexpr std::string_view kNotHwpxZip =
    "a ZIP archive without the application/hwp+zip mimetype";

// An entry's bytes, which view either the package or `inflated`.
struct Part {
  ByteBuffer inflated;
  Bytes bytes;
};

// The entries of a ZIP archive held in memory (the bytes must outlive the Package). Opening
// reads the central directory and the local headers; parts are inflated on request, each call
// inflating anew and counting against one budget for the package. No entry's data may overlap
// another's, so the work of inflating every part once is bounded by the archive's own size
// times DEFLATE's largest ratio, and by the budget.
class Package {
 public:
  // Fails with a Package error when the bytes are not a readable ZIP archive, list more than
  // kMaxPackageEntries entries, or hold entries whose data overlap.
  // `inflation_budget` bounds the bytes of all the parts read (kPackageInflationBudget).
  static Result<Package> open(Bytes bytes, std::size_t inflation_budget = kPackageInflationBudget);

  Package(Package&&) noexcept;
  Package& operator=(Package&&) noexcept;
  ~Package();

  // Whether an entry has this name; backslashes in the archive's names count as slashes.
  bool contains(std::string_view name) const;

  // The inflated size the central directory declares for entry `name`, without reading it
  // (read() checks it); nothing when there is no such entry.
  std::optional<std::uint64_t> declared_size(std::string_view name) const;

  // The bytes of entry `name`: a view into the package for a stored entry, inflated for a
  // deflated one (by the same inflater as a binary section, so with the same ceiling and
  // messages: Parse "압축 해제 실패: ..."). Fails with a Package error when the entry is
  // missing, encrypted, compressed by another method, its data lie outside the archive, or
  // its bytes differ from the size and CRC-32 its entry declares ("... is damaged (...)"), and
  // with a Package error of cause OverCeiling when it would take the parts read past the
  // package's inflation budget.
  Result<Part> read(std::string_view name) const;

 private:
  struct Archive;
  explicit Package(std::unique_ptr<Archive> archive);
  std::unique_ptr<Archive> archive_;
};

}  // namespace paravox
