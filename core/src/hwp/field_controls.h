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

// The guide text behind "Direction:wstring:<digits>:" in a click-here field's command
// (`command`: UTF-16LE code units; HWPX keeps the same command in the field's "Command"
// parameter): the first occurrence of the key followed by a decimal length and a colon, then
// that many units or the rest of the command. Nothing when the command holds no such guide
// text or the text is not valid UTF-16.
std::optional<std::string> guide_text(Bytes command);

// Reads a '%clk' CTRL_HEADER payload. Nothing when the payload has 10 bytes or fewer, its
// byte 8 is not 9, or its command does not fit; an ill-formed guide text gives an empty
// `direction` with `modified` still read.
std::optional<ClickHereHeader> read_click_here_header(Bytes payload);

}  // namespace paravox
