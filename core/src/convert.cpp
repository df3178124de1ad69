#include "convert.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

#include "base/error.h"
#include "base/file_io.h"
#include "document/front_matter.h"
#include "document/full_markdown.h"
#include "document/json.h"
#include "document/markdown.h"
#include "document/pictures.h"
#include "hwp/bin_data.h"
#include "hwp/container.h"
#include "hwp/docinfo.h"
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

// Strict, the failure a document's first warning makes of it; otherwise nothing.
std::optional<Failure> strict_failure(const ConvertOptions& options,
                                      const std::vector<Warning>& warnings) {
  if (!options.strict || warnings.empty()) return std::nullopt;
  const Warning& first = warnings.front();
  const FailureKind kind =
      first.kind == WarningKind::TooLarge ? FailureKind::TooLarge : FailureKind::Damaged;
  return Failure{kind, first.message};
}

Failure distribution_failure() {
  return Failure{FailureKind::Distribution, std::string(kDistribution)};
}

// A document's body model with its pictures numbered, and the items they show.
struct PicturedDocument {
  DocumentModel model;
  std::vector<BinaryDataItem> items;
};

// Numbers the pictures of `model` by `items`.
Result<PicturedDocument> numbered(Result<DocumentModel> model, std::vector<BinaryDataItem> items) {
  if (!model) return std::move(model).error();
  PicturedDocument pictured{std::move(model).value(), std::move(items)};
  number_pictures(pictured.model.document, pictured.items);
  return pictured;
}

// A DocInfo that cannot be read names no items: the pictures then show none.
Result<PicturedDocument> pictured_document(HwpDocument& document) {
  Result<DocumentStyles> read =
      read_document_styles(document.container, document.header.compressed());
  DocumentStyles styles = read ? std::move(read).value() : DocumentStyles{};
  Result<DocumentModel> model = read_body(document, styles);
  return numbered(std::move(model), std::move(styles.binary_data));
}

// content.hpf is read once for the sections, the pictures' items and, into `metadata` when
// given, the metadata.
Result<PicturedDocument> pictured_document(const Package& package, Metadata* metadata = nullptr) {
  PackageContent content;
  Result<DocumentModel> body = read_hwpx_body(package, &content);
  if (metadata != nullptr) *metadata = std::move(content.metadata);
  return numbered(std::move(body), std::move(content.binary_data));
}

// Gives each numbered picture the size its file declares for it (`declare(item, picture)`),
// so that the document's pictures have a size without one being read.
template <class Declare>
void declare_picture_sizes(Result<PicturedDocument>& pictured, const Declare& declare) {
  if (!pictured) return;
  for (model::EmbeddedPicture& picture : pictured->model.document.pictures) {
    declare(pictured->items[picture.item], picture);
  }
}

// The bytes of an HWPX package's item: its BinData/ entry, under the package's checks.
Result<ByteBuffer> read_package_item(const Package& package, const BinaryDataItem& item) {
  if (item.kind == BinaryDataKind::Link || item.path.empty()) {
    return ConvertError::package(item.name + " is not kept in the package",
                                 ErrorCause::MissingStream);
  }
  Result<Part> part = package.read(item.path);
  if (!part) return std::move(part).error();
  if (part->bytes.size() > kPictureLimit) {
    return ConvertError::package(
        item.path + " holds more than " + std::to_string(kPictureLimit) + " bytes",
        ErrorCause::OverCeiling);
  }
  if (!part->inflated.empty()) return std::move(part->inflated);
  ByteBuffer copy;
  copy.reserve(part->bytes.size());
  std::copy(part->bytes.begin(), part->bytes.end(), copy.spare().begin());
  copy.commit(part->bytes.size());
  return copy;
}

// "Picture image2 (/BinData/BIN0002.png) cannot be read: ...", too large past a ceiling.
Failure picture_unreadable(const model::EmbeddedPicture& picture, const BinaryDataItem& item,
                           const ConvertError& error) {
  return Failure{
      error.cause() == ErrorCause::OverCeiling ? FailureKind::TooLarge : FailureKind::Damaged,
      "Picture " + picture.id + " (" + item.path + ") cannot be read: " + error.message()};
}

// The operations on a document's pictures (`Derived::with`), from the document opened and
// refused as for a conversion, its pictures numbered, with a reader of their bytes.
template <class Derived, class OutcomeType>
struct PictureOperation {
  using Outcome = OutcomeType;

  static Outcome failed(DocumentFormat format, Failure failure) {
    Outcome outcome;
    outcome.format = format;
    outcome.failure = std::move(failure);
    return outcome;
  }

  static Outcome error(DocumentFormat format, const ConvertError& error) {
    auto [told_as, failure] = failure_of(format, error);
    return failed(told_as, std::move(failure));
  }

  Outcome compound_file(Result<Container> container) const {
    Result<HwpDocument> opened = open_hwp_document(std::move(container));
    if (!opened) return error(DocumentFormat::Hwp, opened.error());
    HwpDocument& document = opened.value();
    if (document.header.distribution()) return failed(DocumentFormat::Hwp, distribution_failure());
    Result<PicturedDocument> pictured = pictured_document(document);
    if (!pictured) return error(DocumentFormat::Hwp, pictured.error());
    return derived().with(DocumentFormat::Hwp, pictured.value(), [&](const BinaryDataItem& item) {
      return read_binary_item(document.container, item, document.header.compressed());
    });
  }

  Outcome zip(Bytes archive) const {
    Result<Package> opened = open_hwpx_package(archive);
    if (!opened) return error(DocumentFormat::Hwpx, opened.error());
    const Package& package = opened.value();
    Result<PicturedDocument> pictured = pictured_document(package);
    if (!pictured) return error(DocumentFormat::Hwpx, pictured.error());
    return derived().with(DocumentFormat::Hwpx, pictured.value(), [&](const BinaryDataItem& item) {
      return read_package_item(package, item);
    });
  }

 private:
  const Derived& derived() const { return static_cast<const Derived&>(*this); }
};

struct ListingPictures : PictureOperation<ListingPictures, PictureListing> {
  template <class ReadItem>
  PictureListing with(DocumentFormat format, PicturedDocument& pictured,
                      const ReadItem& read_item) const {
    PictureListing listing{format, {}, std::move(pictured.model.warnings), std::nullopt};
    for (const model::EmbeddedPicture& picture : pictured.model.document.pictures) {
      const BinaryDataItem& item = pictured.items[picture.item];
      Result<ByteBuffer> data = read_item(item);
      if (!data) {
        Failure unreadable = picture_unreadable(picture, item, data.error());
        listing.warnings.push_back(Warning{
            unreadable.kind == FailureKind::TooLarge ? WarningKind::TooLarge : WarningKind::Damaged,
            std::move(unreadable.message)});
        continue;
      }
      listing.pictures.push_back(
          PictureInfo{picture.id, picture.extension, picture.media_type, data->size()});
    }
    return listing;
  }
};

struct ReadingPicture : PictureOperation<ReadingPicture, PictureReading> {
  std::string_view id;

  template <class ReadItem>
  PictureReading with(DocumentFormat format, PicturedDocument& pictured,
                      const ReadItem& read_item) const {
    for (const model::EmbeddedPicture& picture : pictured.model.document.pictures) {
      if (picture.id != id) continue;
      const BinaryDataItem& item = pictured.items[picture.item];
      Result<ByteBuffer> data = read_item(item);
      if (!data) return failed(format, picture_unreadable(picture, item, data.error()));
      return PictureReading{format, std::move(data).value(), std::nullopt};
    }
    return PictureReading{format, std::nullopt, std::nullopt};
  }
};

// Conversion: a Conversion for each route an input takes.
struct Converting {
  using Outcome = Conversion;
  const ConvertOptions& options;

  static Conversion failed(DocumentFormat format, Failure failure) {
    return Conversion{format, {}, {}, std::move(failure)};
  }

  // The outcome of a reader: its Markdown and warnings, or its failure. Strict, the first
  // warning is the failure.
  Conversion outcome(DocumentFormat format, Result<DocumentText> text,
                     const Metadata* metadata = nullptr) const {
    if (!text) {
      auto [told_as, failure] = failure_of(format, text.error());
      return failed(told_as, std::move(failure));
    }
    DocumentText& read = text.value();
    if (auto failure = strict_failure(options, read.warnings)) {
      return failed(format, std::move(*failure));
    }
    if (metadata != nullptr) {
      read.markdown = with_front_matter(*metadata, std::move(read.markdown));
      if (read.markdown.size() > kOutputLimit) {
        return failed(format, Failure{FailureKind::TooLarge, output_limit_error().message()});
      }
    }
    return Conversion{format, std::move(read.markdown), std::move(read.warnings), std::nullopt};
  }

  bool links_pictures() const {
    return options.profile == Profile::Full && !options.picture_links.empty();
  }

  // The full profile's Markdown, the pictures linked into options.picture_links; front matter
  // from `metadata` when given.
  Conversion linked(DocumentFormat format, Result<PicturedDocument> pictured,
                    const Metadata* metadata) const {
    if (!pictured) return outcome(format, std::move(pictured).error());
    DocumentModel& model = pictured->model;
    try {
      std::string markdown =
          render_markdown(model.document, 0, options.picture_links, options.headers_footers);
      return outcome(format, DocumentText{std::move(markdown), std::move(model.warnings)},
                     metadata);
    } catch (const OutputLimitExceeded&) {
      return outcome(format, output_limit_error());
    }
  }

  // A binary document through the package's route: a distribution document is refused,
  // since its body holds only a placeholder paragraph.
  Conversion compound_file(Result<Container> container) const {
    Result<HwpDocument> document = open_hwp_document(std::move(container));
    if (!document) return outcome(DocumentFormat::Hwp, std::move(document).error());
    if (document->header.distribution()) return failed(DocumentFormat::Hwp, distribution_failure());
    const bool front = options.front_matter;
    const Metadata metadata = front ? read_metadata(document->container) : Metadata{};
    if (links_pictures()) {
      return linked(DocumentFormat::Hwp, pictured_document(document.value()),
                    front ? &metadata : nullptr);
    }
    return outcome(DocumentFormat::Hwp,
                   convert_body(document.value(), options.profile, options.headers_footers),
                   front ? &metadata : nullptr);
  }

  Conversion zip(Bytes archive) const {
    const bool front = options.front_matter;
    if (!links_pictures() && !front) {
      return outcome(DocumentFormat::Hwpx,
                     hwpx_to_markdown(archive, options.profile, options.headers_footers));
    }
    Result<Package> package = open_hwpx_package(archive);
    if (!package) return outcome(DocumentFormat::Hwpx, std::move(package).error());
    if (links_pictures()) {
      Metadata metadata;
      Result<PicturedDocument> pictured =
          pictured_document(package.value(), front ? &metadata : nullptr);
      return linked(DocumentFormat::Hwpx, std::move(pictured), front ? &metadata : nullptr);
    }
    const Metadata metadata = read_metadata(package.value());
    return outcome(DocumentFormat::Hwpx,
                   hwpx_to_markdown(archive, options.profile, options.headers_footers), &metadata);
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
    if (document->header.distribution()) return failed(DocumentFormat::Hwp, distribution_failure());
    return MetadataReading{DocumentFormat::Hwp, read_metadata(document->container), std::nullopt};
  }

  MetadataReading zip(Bytes archive) const {
    Result<Package> package = open_hwpx_package(archive);
    if (!package) return error(DocumentFormat::Hwpx, package.error());
    return MetadataReading{DocumentFormat::Hwpx, read_metadata(package.value()), std::nullopt};
  }
};

// Reading a document whole: its model, metadata and warnings, from a document opened and
// refused as for a conversion.
struct ReadingDocument {
  using Outcome = DocumentReading;
  const ConvertOptions& options;

  static DocumentReading failed(DocumentFormat format, Failure failure) {
    DocumentReading reading;
    reading.format = format;
    reading.failure = std::move(failure);
    return reading;
  }

  static DocumentReading error(DocumentFormat format, const ConvertError& error) {
    auto [told_as, failure] = failure_of(format, error);
    return failed(told_as, std::move(failure));
  }

  // The outcome of a reader's model, pictures numbered, with the metadata `read_metadata`
  // gives when it is kept.
  template <class ReadMetadata>
  DocumentReading outcome(DocumentFormat format, Result<PicturedDocument> pictured,
                          ReadMetadata&& read_metadata) const {
    if (!pictured) return error(format, pictured.error());
    DocumentModel& model = pictured->model;
    if (auto failure = strict_failure(options, model.warnings)) {
      return failed(format, std::move(*failure));
    }
    return DocumentReading{format, std::move(model.document), read_metadata(),
                           std::move(model.warnings), std::nullopt};
  }

  DocumentReading compound_file(Result<Container> container) const {
    Result<HwpDocument> document = open_hwp_document(std::move(container));
    if (!document) return error(DocumentFormat::Hwp, document.error());
    if (document->header.distribution()) return failed(DocumentFormat::Hwp, distribution_failure());
    Result<PicturedDocument> pictured = pictured_document(document.value());
    const bool compressed = document->header.compressed();
    declare_picture_sizes(pictured, [&](const BinaryDataItem& item, model::EmbeddedPicture& to) {
      to.size = document->container.stream_size(item.path);
      to.compressed = item.compression == BinaryDataCompression::Compressed ||
                      (item.compression == BinaryDataCompression::AsDocument && compressed);
    });
    return outcome(DocumentFormat::Hwp, std::move(pictured),
                   [&] { return read_metadata(document->container); });
  }

  DocumentReading zip(Bytes archive) const {
    Result<Package> package = open_hwpx_package(archive);
    if (!package) return error(DocumentFormat::Hwpx, package.error());
    Metadata metadata;
    Result<PicturedDocument> pictured = pictured_document(package.value(), &metadata);
    declare_picture_sizes(pictured, [&](const BinaryDataItem& item, model::EmbeddedPicture& to) {
      to.size = package->declared_size(item.path);
    });
    return outcome(DocumentFormat::Hwpx, std::move(pictured), [&] { return std::move(metadata); });
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

DocumentReading read_document_bytes(Bytes document, const ConvertOptions& options) {
  return route_bytes(document, ReadingDocument{options});
}

DocumentReading read_document_path(std::string_view path, const ConvertOptions& options) {
  return route_path(path, ReadingDocument{options});
}

Result<std::string> reading_markdown(const DocumentReading& reading,
                                     const ConvertOptions& options) {
  try {
    std::string markdown =
        render_markdown(reading.document, 0, options.picture_links, options.headers_footers);
    if (!options.front_matter) return markdown;
    markdown = with_front_matter(reading.metadata, std::move(markdown));
    if (markdown.size() > kOutputLimit) return output_limit_error();
    return markdown;
  } catch (const OutputLimitExceeded&) {
    return output_limit_error();
  }
}

Result<std::string> reading_json(const DocumentReading& reading) {
  try {
    return document_json(format_name(reading.format), reading.document, reading.metadata,
                         reading.warnings);
  } catch (const OutputLimitExceeded&) {
    return ConvertError::parse("JSON output exceeds " + std::to_string(kOutputLimit) + " bytes",
                               ErrorCause::OverCeiling);
  }
}

PictureListing pictures_bytes(Bytes document) {
  return route_bytes(document, ListingPictures{});
}

PictureListing pictures_path(std::string_view path) {
  return route_path(path, ListingPictures{});
}

PictureReading picture_data_bytes(Bytes document, std::string_view id) {
  ReadingPicture reading;
  reading.id = id;
  return route_bytes(document, reading);
}

PictureReading picture_data_path(std::string_view path, std::string_view id) {
  ReadingPicture reading;
  reading.id = id;
  return route_path(path, reading);
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
