#include "convert.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

#include "hwp/container.h"
#include "hwp/driver.h"
#include "hwp/error.h"
#include "hwp/file_io.h"
#include "hwpx/hwpx.h"
#include "recognise.h"

namespace paravox {
namespace {

Conversion failed(DocumentFormat format, FailureKind kind, std::string message) {
  return Conversion{format, {}, Failure{kind, std::move(message)}};
}

// Errors before the input's bytes are known: opening the file, reading its head.
Conversion unreadable(const ConvertError& error) {
  return failed(DocumentFormat::None, FailureKind::Io, error.message());
}

// The kind of failure a reader's error is. A compound file without a FileHeader stream, or
// with the wrong signature in it, is some other program's compound file (a DOC, an XLS).
FailureKind failure_kind(const ConvertError& error) {
  static const std::string kCeiling = " exceeds " + std::to_string(kOutputLimit) + " bytes";
  switch (error.kind()) {
    case ErrorKind::Io:
      // A system error is the file's; any other is a stream or part that cannot be read.
      return error.os_error() != 0 ? FailureKind::Io : FailureKind::Damaged;
    case ErrorKind::InvalidSignature:
      return FailureKind::NotADocument;
    case ErrorKind::PasswordProtected:
      return FailureKind::PasswordProtected;
    case ErrorKind::CompoundFile:
      return error.text() == "No such stream: \"/FileHeader\"" ? FailureKind::NotADocument
                                                               : FailureKind::Damaged;
    case ErrorKind::Parse:
      return error.text().ends_with(kCeiling) ? FailureKind::TooLarge : FailureKind::Damaged;
    default:
      return FailureKind::Damaged;
  }
}

Conversion not_a_document(std::string_view appears_to_be) {
  return failed(DocumentFormat::None, FailureKind::NotADocument,
                "Not an HWP or HWPX document: " + std::string(appears_to_be));
}

// The outcome of a reader: its Markdown, or its error under the reader's format (None when
// the error says the input was not that format after all).
Conversion outcome(DocumentFormat format, Result<std::string> markdown) {
  if (markdown) return Conversion{format, std::move(markdown).value(), std::nullopt};
  const ConvertError& error = markdown.error();
  // The HWPX reader says what a ZIP archive that is no HWPX package appears to be.
  if (error.kind() == ErrorKind::NotHwpxPackage) return not_a_document(error.text());
  const FailureKind kind = failure_kind(error);
  return failed(kind == FailureKind::NotADocument ? DocumentFormat::None : format, kind,
                error.message());
}

Result<std::string> convert_compound_file(Result<Container> container) {
  if (!container) return std::move(container).error();
  const Result<bool> compressed = read_file_header(container.value());
  if (!compressed) return compressed.error();
  return convert_body(container.value(), compressed.value());
}

Conversion convert_zip(Bytes archive) {
  return outcome(DocumentFormat::Hwpx, hwpx_to_markdown(archive));
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

Conversion convert_bytes(Bytes document) {
  const InputKind kind = recognise(document, document.size());
  if (kind == InputKind::CompoundFile) {
    return outcome(DocumentFormat::Hwp, convert_compound_file(open_container(document)));
  }
  if (kind == InputKind::Zip) return convert_zip(document);
  return convert_other(kind);
}

Conversion convert_path(std::string_view path) {
  Result<FileDescriptor> fd = open_read_only(path);
  if (!fd) return unreadable(fd.error());
  Result<FileInfo> info = file_info(fd->get());
  if (!info) return unreadable(info.error());
  if (info->is_directory) return unreadable(ConvertError::io_os(EISDIR));
  // A pipe or a device has no length to read in place: take what it gives.
  if (!info->is_regular) {
    const Result<ByteBuffer> data = read_to_end(fd->get(), 0);
    if (!data) return unreadable(data.error());
    return convert_bytes(data.value());
  }

  const std::size_t head_size =
      static_cast<std::size_t>(std::min<std::uint64_t>(info->size, kHeadSize));
  const auto head = std::make_unique_for_overwrite<std::uint8_t[]>(head_size);
  const Result<std::size_t> got = read_at(fd->get(), 0, std::span(head.get(), head_size));
  if (!got) return unreadable(got.error());
  const Bytes head_bytes(head.get(), got.value());
  // A file that shrank since fstat is judged by what it holds now.
  const std::uint64_t size = got.value() < head_size ? got.value() : info->size;

  const InputKind kind = recognise(head_bytes, size);
  if (kind == InputKind::CompoundFile) {
    return outcome(DocumentFormat::Hwp,
                   convert_compound_file(open_container(std::move(fd).value())));
  }
  if (kind == InputKind::Zip) {
    const Result<ByteBuffer> archive = read_to_end(fd->get(), info->size);
    if (!archive) return unreadable(archive.error());
    return convert_zip(archive.value());
  }
  return convert_other(kind);
}

}  // namespace paravox
