// The controls of a click-here field in the binary format: its '%clk' header and the
// CTRL_DATA record that names it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "base/byte_cursor.h"
#include "document/fields.h"
#include "hwp/records.h"

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

// Reads a field name from the CTRL_DATA record at `cursor` when it has level
// `expected_level`, advancing `cursor` past it; otherwise returns "" and leaves it.
std::string read_field_name(Records records, std::size_t& cursor, std::uint16_t expected_level);

// Attaches the '%clk' control whose CTRL_HEADER is records[at] to the first field of
// `paragraph` still without one (the caller checks awaits_field_control()): guide text and
// modified flag from the header, name from the CTRL_DATA record right after it one level
// deeper, when there is one. Returns the index of the first record not read.
std::size_t attach_click_here_field(Records records, std::size_t at, PendingParagraph& paragraph);

}  // namespace paravox
