// The one error value of the document pipeline, and Result<T>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace paravox {

// Largest Markdown text and largest inflated section ever built (256 MiB). Far above any
// real document; a crafted table, field or compressed run hits it instead of exhausting memory.
inline constexpr std::size_t kOutputLimit = 268435456;

enum class ErrorKind : std::uint8_t {
  Io,
  InvalidSignature,
  PasswordProtected,
  CompoundFile,
  Parse,
  Package,        // a damaged HWPX package
  NotHwpxPackage  // a ZIP archive that is not an HWPX package
};

// What a failure means beyond its message, for callers that must tell failures apart without
// reading their text.
enum class ErrorCause : std::uint8_t {
  Unspecified,
  MissingStream,  // a compound file has no stream at the path asked for
  NotThisFormat,  // a compound file without a FileHeader stream: another program's file
  OverCeiling     // an inflated part or the output would pass kOutputLimit
};

// A failure to obtain the document or one of its streams. Carries its payload as a value;
// the message text is formed only when it reaches the Python boundary.
class [[nodiscard]] ConvertError {
 public:
  // An operating-system error number; its text is the system's description + " (os error N)".
  static ConvertError io_os(int os_error) { return ConvertError(ErrorKind::Io, os_error, {}); }
  // An I/O error described by a message alone.
  static ConvertError io_text(std::string text) {
    return ConvertError(ErrorKind::Io, 0, std::move(text));
  }
  static ConvertError invalid_signature() {
    return ConvertError(ErrorKind::InvalidSignature, 0, {});
  }
  static ConvertError password_protected() {
    return ConvertError(ErrorKind::PasswordProtected, 0, {});
  }
  static ConvertError compound_file(std::string text, ErrorCause cause = ErrorCause::Unspecified) {
    return ConvertError(ErrorKind::CompoundFile, 0, std::move(text), cause);
  }
  static ConvertError parse(std::string text, ErrorCause cause = ErrorCause::Unspecified) {
    return ConvertError(ErrorKind::Parse, 0, std::move(text), cause);
  }
  // "Package error: " + `detail`.
  static ConvertError package(std::string detail, ErrorCause cause = ErrorCause::Unspecified) {
    return ConvertError(ErrorKind::Package, 0, std::move(detail), cause);
  }
  // A ZIP archive without the application/hwp+zip mimetype; `what` says what it appears to be
  // (one of the kNot... texts of hwpx/package.h), for a caller that names the input's kind.
  static ConvertError not_hwpx_package(std::string what) {
    return ConvertError(ErrorKind::NotHwpxPackage, 0, std::move(what));
  }

  ErrorKind kind() const noexcept { return kind_; }
  ErrorCause cause() const noexcept { return cause_; }
  int os_error() const noexcept { return os_error_; }
  const std::string& text() const noexcept { return text_; }

  // The message raised to Python, e.g. "IO error: No such file or directory (os error 2)".
  std::string message() const;

 private:
  ConvertError(ErrorKind kind, int os_error, std::string text,
               ErrorCause cause = ErrorCause::Unspecified)
      : kind_(kind), cause_(cause), os_error_(os_error), text_(std::move(text)) {}

  ErrorKind kind_;
  ErrorCause cause_;
  int os_error_;  // Io only; 0 when the error is described by `text_`
  std::string text_;
};

// A value or a ConvertError.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(ConvertError error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  T& operator*() & { return value(); }

  const ConvertError& error() const& { return std::get<1>(state_); }
  ConvertError&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, ConvertError> state_;
};

// Success, or the ConvertError that ended an operation.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(ConvertError error) : error_(std::move(error)) {}

  bool ok() const noexcept { return !error_.has_value(); }
  explicit operator bool() const noexcept { return ok(); }

  const ConvertError& error() const& { return *error_; }
  ConvertError&& error() && { return std::move(*error_); }

 private:
  std::optional<ConvertError> error_;
};

}  // namespace paravox
