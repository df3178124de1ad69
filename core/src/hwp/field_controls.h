// The controls of a click-here field in the binary format: its '%clk' header.
#pragma once

#include <optional>
#include <string>

#include "byte_cursor.h"

namespace paravox {

// What a '%clk' control header says about its field.
struct ClickHereHeader {
  std::string direction;  // guide text behind "Direction:wstring:<N>:"
  bool modified = false;  // bit 15 of the property word
};

// Reads a '%clk' CTRL_HEADER payload. Nothing when the payload has 10 bytes or fewer, its
// byte 8 is not 9, or its command does not fit; an ill-formed guide text gives an empty
// `direction` with `modified` still read.
std::optional<ClickHereHeader> read_click_here_header(Bytes payload);

}  // namespace paravox
