#include "convert.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

#include "base/error.h"
#include "base/file_io.h"
#include "hwp/container.h"
#include "hwp/driver.h"
#include "hwpx/hwpx.h"
#include "recognise.h"

namespace paravox {
namespace {

// The most bytes read into memory from one file (1 GiB): far past any real document, and a
// bound on what a device such as /dev/zero can make the conversion hold.
constexpr std::uint64_t kMaxInput = std::uint64_t{1} << 30;

constexpr std::string_view kDistribution =
    "Distribution HWP documents are not supported: the text is stored encrypted, for viewing "
    "only";

Conversion failed(DocumentFormat format, FailureKind kind, std::string message) {
  return Conversion{format, {}, {}, Failure{kind, std::move(message)}};
}

// Errors before the input's bytes are known: opening the file, reading its head.
Conversion unreadable(const ConvertError& error) {
  return failed(DocumentFormat::None, FailureKind::Io, error.message());
}

Conversion not_a_document(std::string_view appears_to_be) {
  return failed(DocumentFormat::None, FailureKind::NotADocument,
                "Not an HWP or HWPX document: " + std::string(appears_to_be));
}

// The outcome of a reader: its Markdown and warnings, or its error under the reader's format
// (None when the error says the input was not that format after all). Strict, the first
// warning is the failure.
Conversion outcome(DocumentFormat format, Result<DocumentText> text,
                   const ConvertOptions& options) {
  if (text) {
    DocumentText& read = text.value();
    if (options.strict && !read.warnings.empty()) {
      const Warning& first = read.warnings.front();
      const FailureKind kind =
          first.kind == WarningKind::TooLarge ? FailureKind::TooLarge : FailureKind::Damaged;
      return failed(format, kind, first.message);
    }
    return Conversion{format, std::move(read.markdown), std::move(read.warnings), std::nullopt};
  }
  const ConvertError& error = text.error();
  // The HWPX reader says what a ZIP archive that is no HWPX package appears to be.
  if (error.kind() == ErrorKind::NotHwpxPackage) return not_a_document(error.text());
  const FailureKind kind = failure_kind(error);
  return failed(kind == FailureKind::NotADocument ? DocumentFormat::None : format, kind,
                error.message());
}

// A binary document through the package's route: a distribution document is refused, since
// its body holds only a placeholder paragraph.
Conversion convert_compound_file(Result<Container> container, const ConvertOptions& options) {
  Result<HwpDocument> document = open_hwp_document(std::move(container));
  if (!document) return outcome(DocumentFormat::Hwp, std::move(document).error(), options);
  if (document->header.distribution()) {
    return failed(DocumentFormat::Hwp, FailureKind::Distribution, std::string(kDistribution));
  }
  return outcome(DocumentFormat::Hwp, convert_body(document.value(), options.profile), options);
}

Conversion convert_zip(Bytes archive, const ConvertOptions& options) {
  return outcome(DocumentFormat::Hwpx, hwpx_to_markdown(archive, options.profile), options);
}

// Inputs that are neither a compound file nor a ZIP archive.
Conversion convert_other(InputKind kind) {
  switch (kind) {
    case InputKind::Empty:
      return not_a_document("the file is empty");
    case InputKind::Pdf:
      return not_a_document("a PDF document");
    case InputKind::Hwp3:
      return not_a_document("an HWP 3.x document");
    case InputKind::Hwpml:
      return not_a_document("an HWPML (.hml) XML document");
    case InputKind::MarkAnyDrm:
      return not_a_document("a document encrypted by the MarkAny Document SAFER DRM client");
    case InputKind::PlainText:
      return not_a_document("plain text");
    case InputKind::CompoundFile:
    case InputKind::Zip:
    case InputKind::Unrecognised:
      break;
  }
  return not_a_document("data of an unrecognised type");
}

}  // namespace

FailureKind failure_kind(const ConvertError& error) {
  switch (error.kind()) {
    case ErrorKind::Io:
      // A system error is the file's; any other is a stream or part that cannot be read.
      return error.os_error() != 0 ? FailureKind::Io : FailureKind::Damaged;
    case ErrorKind::InvalidSignature:
    case ErrorKind::NotHwpxPackage:
      return FailureKind::NotADocument;
    case ErrorKind::PasswordProtected:
      return FailureKind::PasswordProtected;
    case ErrorKind::CompoundFile:
    case ErrorKind::Parse:
    case ErrorKind::Package:
      break;
  }
  switch (error.cause()) {
    case ErrorCause::NotThisFormat:
      return FailureKind::NotADocument;
    case ErrorCause::OverCeiling:
      return FailureKind::TooLarge;
    case ErrorCause::Unspecified:
    case ErrorCause::MissingStream:
      break;
  }
  return FailureKind::Damaged;
}

std::string_view format_name(DocumentFormat format) {
  switch (format) {
    case DocumentFormat::Hwp:
      return "hwp";
    case DocumentFormat::Hwpx:
      return "hwpx";
    case DocumentFormat::None:
      break;
  }
  return "";
}

Conversion convert_bytes(Bytes document, const ConvertOptions& options) {
  const InputKind kind = recognise(document, document.size());
  if (kind == InputKind::CompoundFile) {
    return convert_compound_file(open_container(document), options);
  }
  if (kind == InputKind::Zip) return convert_zip(document, options);
  return convert_other(kind);
}

Conversion convert_path(std::string_view path, const ConvertOptions& options) {
  Result<FileDescriptor> fd = open_read_only(path);
  if (!fd) return unreadable(fd.error());
  Result<FileInfo> info = file_info(fd->get());
  if (!info) return unreadable(info.error());
  if (info->is_directory) return unreadable(ConvertError::io_os(EISDIR));
  // A pipe or a device has no length to read in place, and a small file is cheaper read
  // whole than through the block cache: convert what they hold from memory.
  if (!info->is_regular || info->size <= kHeadSize) {
    const Result<ByteBuffer> data =
        read_to_end(fd->get(), info->is_regular ? info->size : 0, kMaxInput);
    if (!data) return unreadable(data.error());
    return convert_bytes(data.value(), options);
  }

  const auto head = std::make_unique_for_overwrite<std::uint8_t[]>(kHeadSize);
  const Result<std::size_t> got = read_at(fd->get(), 0, std::span(head.get(), kHeadSize));
  if (!got) return unreadable(got.error());
  // A file that shrank since fstat is judged by what it holds now.
  const std::uint64_t size = got.value() < kHeadSize ? got.value() : info->size;

  const InputKind kind = recognise(Bytes(head.get(), got.value()), size);
  if (kind == InputKind::CompoundFile) {
    return convert_compound_file(open_container(std::move(fd).value()), options);
  }
  if (kind == InputKind::Zip) {
    const Result<ByteBuffer> archive = read_to_end(fd->get(), info->size, kMaxInput);
    if (!archive) return unreadable(archive.error());
    return convert_zip(archive.value(), options);
  }
  return convert_other(kind);
}

Result<std::string> hwp_to_markdown(std::string_view path) {
  Result<HwpDocument> document = open_hwp_document(open_container(path));
  if (!document) return std::move(document).error();
  Result<DocumentText> text = convert_body(document.value(), Profile::Minimal);
  if (!text) return std::move(text).error();
  return std::move(text->markdown);
}

Result<ByteBuffer> read_first_section(std::string_view path) {
  Result<HwpDocument> document = open_hwp_document(open_container(path));
  if (!document) return std::move(document).error();
  return read_first_section(document.value());
}

Result<ByteBuffer> read_first_section(Bytes bytes) {
  Result<HwpDocument> document = open_hwp_document(open_container(bytes));
  if (!document) return std::move(document).error();
  return read_first_section(document.value());
}

}  // namespace paravox
