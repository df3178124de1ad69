// The front door: a document given by path or in memory, its format recognised from its
// first bytes (a compound file goes to the binary reader, a ZIP package to the HWPX reader),
// converted into Markdown, or its metadata read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_cursor.h"
#include "base/error.h"
#include "base/large_memory.h"
#include "document/model.h"
#include "document/options.h"
#include "document/styles.h"
#include "document/warning.h"

namespace paravox {

enum class DocumentFormat : std::uint8_t { None, Hwp, Hwpx };

// "hwp", "hwpx", or "" for None.
std::string_view format_name(DocumentFormat format);

// What kind of failure ended a conversion; each kind is a distinct exception class in Python.
enum class FailureKind : std::uint8_t {
  Io,                 // the file cannot be read
  NotADocument,       // the input is not an HWP or HWPX document
  Damaged,            // a damaged container or package
  PasswordProtected,  // the document is encrypted
  Distribution,       // a distribution document: its text is kept encrypted, for viewing only
  TooLarge            // the output or an inflated part would pass kOutputLimit
};

struct Failure {
  FailureKind kind;
  std::string message;  // one line, e.g. "Not an HWP or HWPX document: a PDF document"
};

// The outcome of one conversion. `format` names the reader the input went to, also on
// failure; it is None when the input was not recognised as either format.
struct Conversion {
  DocumentFormat format = DocumentFormat::None;
  std::string markdown;            // empty on failure
  std::vector<Warning> warnings;   // the parts that could not be read; none on failure
  std::optional<Failure> failure;  // nothing on success

  bool ok() const noexcept { return !failure.has_value(); }
};

// Converts the document at `path` (a file-system name, any bytes but NUL) as `options` say.
// The file is opened once: a compound file larger than kHeadSize is read in place through a
// block cache, any other input (a ZIP package, a small file, a pipe) is read into memory. A
// compound file converted in the minimal profile gives the same Markdown and messages as
// hwp_to_markdown(path), except that a distribution document fails (the binary route alone
// converts its placeholder paragraph).
Conversion convert_path(std::string_view path, const ConvertOptions& options);

// Converts the document held in `document`, read in place. The same bytes give the same
// Conversion as convert_path on a file holding them, except that no I/O failure can occur.
Conversion convert_bytes(Bytes document, const ConvertOptions& options);

// The outcome of reading one document's metadata; `format` and `failure` as in a Conversion.
struct MetadataReading {
  DocumentFormat format = DocumentFormat::None;
  Metadata metadata;               // empty on failure
  std::optional<Failure> failure;  // nothing on success

  bool ok() const noexcept { return !failure.has_value(); }
};

// The metadata of the document at `path`, or held in `document`: the binary document's
// summary information, the HWPX package's content.hpf. The input is recognised, opened and
// refused exactly as for a conversion (a password-protected or distribution document fails
// alike); a summary stream or content.hpf that is missing or damaged only leaves values
// absent.
MetadataReading metadata_path(std::string_view path);
MetadataReading metadata_bytes(Bytes document);

// An embedded picture of a document, as pictures_path lists it.
struct PictureInfo {
  std::string id;          // "image1", numbered in the order pictures first show it
  std::string format;      // the stored extension, lower case ("png"); may be empty
  std::string media_type;  // HWPX only ("image/png"); empty when not known
  std::uint64_t size = 0;  // bytes, inflated
};

// The outcome of listing a document's pictures; `format` and `failure` as in a Conversion.
struct PictureListing {
  DocumentFormat format = DocumentFormat::None;
  std::vector<PictureInfo> pictures;
  std::vector<Warning> warnings;   // the text not read, and each picture that cannot be read
  std::optional<Failure> failure;  // nothing on success

  bool ok() const noexcept { return !failure.has_value(); }
};

// The embedded pictures of the document at `path`, or held in `document`, in the order of
// their ids: every picture's bytes are read, and one that cannot be (a missing, damaged or
// oversized stream or entry, past kPictureLimit) is left out with a warning, its id kept by
// none other. The input is recognised, opened and refused as for a conversion.
PictureListing pictures_path(std::string_view path);
PictureListing pictures_bytes(Bytes document);

// The outcome of reading one picture's bytes.
struct PictureReading {
  DocumentFormat format = DocumentFormat::None;
  std::optional<ByteBuffer> data;  // nothing when the document has no picture of that id
  std::optional<Failure> failure;  // also when the picture cannot be read (Damaged, TooLarge)

  bool ok() const noexcept { return !failure.has_value(); }
};

// The bytes of picture `id` ("image1") of the document at `path`, or held in `document`.
PictureReading picture_data_path(std::string_view path, std::string_view id);
PictureReading picture_data_bytes(Bytes document, std::string_view id);

// The outcome of reading one document whole for the full profile: its model, metadata and
// the parts that could not be read; `format` and `failure` as in a Conversion.
struct DocumentReading {
  DocumentFormat format = DocumentFormat::None;
  model::Document document;        // empty on failure
  Metadata metadata;               // empty on failure
  std::vector<Warning> warnings;   // none on failure
  std::optional<Failure> failure;  // nothing on success

  bool ok() const noexcept { return !failure.has_value(); }
};

// The document at `path`, or held in `document`, read as a conversion in the full profile
// reads it: recognised, refused and failed alike (strictly when `options` say so; their
// profile is not looked at). Its Markdown is render_markdown(document) and its metadata that
// of metadata_path.
DocumentReading read_document_path(std::string_view path, const ConvertOptions& options);
DocumentReading read_document_bytes(Bytes document, const ConvertOptions& options);

// The Markdown of the full profile of a document read whole, as a conversion with `options`
// writes it (pictures linked into options.picture_links, front matter on request; their
// profile is not looked at), and its JSON (document/json.h); a TooLarge failure when the
// text would pass kOutputLimit.
Result<std::string> reading_markdown(const DocumentReading& reading, const ConvertOptions& options);
Result<std::string> reading_json(const DocumentReading& reading);

// The kind of failure `error` is: one exception class per kind in Python.
FailureKind failure_kind(const ConvertError& error);

// The binary route alone, as `_paravox` defines it (the minimal profile): the document at
// `path` must be an HWP compound file; anything else fails with the compound-file reader's
// error. Says nothing of the parts it could not read, and converts a distribution document's
// placeholder.
Result<std::string> hwp_to_markdown(std::string_view path);

// The first body section of the binary document at `path`, or held in `document`, inflated:
// the bytes whose records a record listing shows (for_each_record in hwp/records.h). Any
// input that is not an HWP compound file fails with the compound-file reader's error.
Result<ByteBuffer> read_first_section(std::string_view path);
Result<ByteBuffer> read_first_section(Bytes document);

}  // namespace paravox
