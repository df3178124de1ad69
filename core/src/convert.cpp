#include "convert.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

#include "base/error.h"
#include "base/file_io.h"
#include "hwp/container.h"
#include "hwp/driver.h"
#include "hwp/summary.h"
#include "hwpx/header.h"
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

Failure not_a_document(std::string_view appears_to_be) {
  return Failure{FailureKind::NotADocument,
                 "Not an HWP or HWPX document: " + std::string(appears_to_be)};
}

// A reader's error as a failure, with the format it is told under: None when the error says
// the input was not that format after all.
std::pair<DocumentFormat, Failure> failure_of(DocumentFormat format, const ConvertError& error) {
  // The HWPX reader says what a ZIP archive that is no HWPX package appears to be.
  if (error.kind() == ErrorKind::NotHwpxPackage) {
    return {DocumentFormat::None, not_a_document(error.text())};
  }
  const FailureKind kind = failure_kind(error);
  return {kind == FailureKind::NotADocument ? DocumentFormat::None : format,
          Failure{kind, error.message()}};
}

// What an input that is neither a compound file nor a ZIP archive appears to be.
std::string_view appearance(InputKind kind) {
  switch (kind) {
    case InputKind::Empty:
      return "the file is empty";
    case InputKind::Pdf:
      return "a PDF document";
    case InputKind::Hwp3:
      return "an HWP 3.x document";
    case InputKind::Hwpml:
      return "an HWPML (.hml) XML document";
    case InputKind::MarkAnyDrm:
      return "a document encrypted by the MarkAny Document SAFER DRM client";
    case InputKind::PlainText:
      return "plain text";
    case InputKind::CompoundFile:
    case InputKind::Zip:
    case InputKind::Unrecognised:
      break;
  }
  return "data of an unrecognised type";
}

// Conversion: a Conversion for each route an input takes.
struct Converting {
  using Outcome = Conversion;
  const ConvertOptions& options;

  static Conversion failed(DocumentFormat format, Failure failure) {
    return Conversion{format, {}, {}, std::move(failure)};
  }

  // The outcome of a reader: its Markdown and warnings, or its failure. Strict, the first
  // warning is the failure.
  Conversion outcome(DocumentFormat format, Result<DocumentText> text) const {
    if (!text) {
      auto [told_as, failure] = failure_of(format, text.error());
      return failed(told_as, std::move(failure));
    }
    DocumentText& read = text.value();
    if (options.strict && !read.warnings.empty()) {
      const Warning& first = read.warnings.front();
      const FailureKind kind =
          first.kind == WarningKind::TooLarge ? FailureKind::TooLarge : FailureKind::Damaged;
      return failed(format, Failure{kind, first.message});
    }
    return Conversion{format, std::move(read.markdown), std::move(read.warnings), std::nullopt};
  }

  // A binary document through the package's route: a distribution document is refused,
  // since its body holds only a placeholder paragraph.
  Conversion compound_file(Result<Container> container) const {
    Result<HwpDocument> document = open_hwp_document(std::move(container));
    if (!document) return outcome(DocumentFormat::Hwp, std::move(document).error());
    if (document->header.distribution()) {
      return failed(DocumentFormat::Hwp,
                    Failure{FailureKind::Distribution, std::string(kDistribution)});
    }
    return outcome(DocumentFormat::Hwp,
                   convert_body(document.value(), options.profile, options.headers_footers));
  }

  Conversion zip(Bytes archive) const {
    return outcome(DocumentFormat::Hwpx,
                   hwpx_to_markdown(archive, options.profile, options.headers_footers));
  }
};

// Metadata: the binary summary information, HWPX's content.hpf, from a document opened and
// refused as for a conversion.
struct ReadingMetadata {
  using Outcome = MetadataReading;

  static MetadataReading failed(DocumentFormat format, Failure failure) {
    return MetadataReading{format, {}, std::move(failure)};
  }

  static MetadataReading error(DocumentFormat format, const ConvertError& error) {
    auto [told_as, failure] = failure_of(format, error);
    return failed(told_as, std::move(failure));
  }

  MetadataReading compound_file(Result<Container> container) const {
    Result<HwpDocument> document = open_hwp_document(std::move(container));
    if (!document) return error(DocumentFormat::Hwp, document.error());
    if (document->header.distribution()) {
      return failed(DocumentFormat::Hwp,
                    Failure{FailureKind::Distribution, std::string(kDistribution)});
    }
    return MetadataReading{DocumentFormat::Hwp, read_metadata(document->container), std::nullopt};
  }

  MetadataReading zip(Bytes archive) const {
    Result<Package> package = open_hwpx_package(archive);
    if (!package) return error(DocumentFormat::Hwpx, package.error());
    return MetadataReading{DocumentFormat::Hwpx, read_metadata(package.value()), std::nullopt};
  }
};

// Hands the input held in `document` to the operation's reader for its kind.
template <class Operation>
typename Operation::Outcome route_bytes(Bytes document, const Operation& operation) {
  const InputKind kind = recognise(document, document.size());
  if (kind == InputKind::CompoundFile) return operation.compound_file(open_container(document));
  if (kind == InputKind::Zip) return operation.zip(document);
  return Operation::failed(DocumentFormat::None, not_a_document(appearance(kind)));
}

// The same for the file at `path`, opened once: a compound file larger than kHeadSize is
// read in place through a block cache, any other input is read into memory.
template <class Operation>
typename Operation::Outcome route_path(std::string_view path, const Operation& operation) {
  // Errors before the input's bytes are known: opening the file, reading its head.
  const auto unreadable = [](const ConvertError& error) {
    return Operation::failed(DocumentFormat::None, Failure{FailureKind::Io, error.message()});
  };
  Result<FileDescriptor> fd = open_read_only(path);
  if (!fd) return unreadable(fd.error());
  Result<FileInfo> info = file_info(fd->get());
  if (!info) return unreadable(info.error());
  if (info->is_directory) return unreadable(ConvertError::io_os(EISDIR));
  // A pipe or a device has no length to read in place, and a small file is cheaper read
  // whole than through the block cache: read what they hold from memory.
  if (!info->is_regular || info->size <= kHeadSize) {
    const Result<ByteBuffer> data =
        read_to_end(fd->get(), info->is_regular ? info->size : 0, kMaxInput);
    if (!data) return unreadable(data.error());
    return route_bytes(data.value(), operation);
  }

  const auto head = std::make_unique_for_overwrite<std::uint8_t[]>(kHeadSize);
  const Result<std::size_t> got = read_at(fd->get(), 0, std::span(head.get(), kHeadSize));
  if (!got) return unreadable(got.error());
  // A file that shrank since fstat is judged by what it holds now.
  const std::uint64_t size = got.value() < kHeadSize ? got.value() : info->size;

  const InputKind kind = recognise(Bytes(head.get(), got.value()), size);
  if (kind == InputKind::CompoundFile) {
    return operation.compound_file(open_container(std::move(fd).value()));
  }
  if (kind == InputKind::Zip) {
    const Result<ByteBuffer> archive = read_to_end(fd->get(), info->size, kMaxInput);
    if (!archive) return unreadable(archive.error());
    return operation.zip(archive.value());
  }
  return Operation::failed(DocumentFormat::None, not_a_document(appearance(kind)));
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
  return route_bytes(document, Converting{options});
}

Conversion convert_path(std::string_view path, const ConvertOptions& options) {
  return route_path(path, Converting{options});
}

MetadataReading metadata_bytes(Bytes document) {
  return route_bytes(document, ReadingMetadata{});
}

MetadataReading metadata_path(std::string_view path) {
  return route_path(path, ReadingMetadata{});
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
