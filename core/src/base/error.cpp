#include "base/error.h"

#include <cstring>

namespace paravox {
namespace {

std::string describe_os_error(int os_error) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(os_error, buffer, sizeof buffer);
  std::string out = text ? text : "Unknown error";
  out += " (os error ";
  out += std::to_string(os_error);
  out += ')';
  return out;
}

}  // namespace

std::string ConvertError::message() const {
  switch (kind_) {
    case ErrorKind::Io:
      return "IO error: " + (os_error_ != 0 ? describe_os_error(os_error_) : text_);
    case ErrorKind::InvalidSignature:
      return "Invalid HWP signature";
    case ErrorKind::PasswordProtected:
      return "Password-protected HWP files are not supported";
    case ErrorKind::CompoundFile:
      return "Compound file error: " + text_;
    case ErrorKind::Parse:
      return "Parse error: " + text_;
    case ErrorKind::Package:
      return "Package error: " + text_;
    case ErrorKind::NotHwpxPackage:
      return "Not an HWPX package: " + text_;
  }
  return "Parse error: " + text_;
}

}  // namespace paravox
