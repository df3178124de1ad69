// The '%clk' control header of a click-here field.
#include "hwp/field_controls.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "text_writer.h"

namespace paravox {
namespace {

using test::click_here_header;
using test::Payload;

struct HeaderCase {
  const char* name;
  Payload payload;
  std::optional<std::string> direction;  // nothing: no header at all
  bool modified = false;
};

Payload truncated(Payload payload, std::size_t size) {
  payload.resize(size);
  return payload;
}

Payload with_byte(Payload payload, std::size_t at, std::uint8_t value) {
  payload[at] = value;
  return payload;
}

std::u16string command_with_guide(std::u16string_view length, std::u16string_view rest) {
  return u"Direction:wstring:" + std::u16string(length) + std::u16string(rest);
}

const std::vector<HeaderCase>& header_cases() {
  static const std::vector<HeaderCase> cases = {
      {"ten bytes", truncated(click_here_header(u""), 10), std::nullopt},
      {"ten bytes even with a command", truncated(click_here_header(u"Direction:wstring:1:a"), 10),
       std::nullopt},
      {"extra property 8", click_here_header(u"Direction:wstring:1:a").extra(8), std::nullopt},
      {"extra property 0x89", click_here_header(u"").extra(0x89), std::nullopt},
      {"no command, modified", click_here_header(u"").properties(0x8000), "", true},
      {"command longer than the payload",
       click_here_header(u"ab").declared_units(4).trailing({0x00}), std::nullopt},
      {"command one byte short",
       truncated(click_here_header(command_with_guide(u"1:", u"a")), 11 + 2 * 21 - 1),
       std::nullopt},
      {"length equal to the text", click_here_header(command_with_guide(u"5:", u"Hello")), "Hello"},
      {"length shorter than the text", click_here_header(command_with_guide(u"3:", u"Hello")),
       "Hel"},
      {"length longer than the text", click_here_header(command_with_guide(u"9:", u"Hello")),
       "Hello"},
      {"two-digit length", click_here_header(command_with_guide(u"12:", u"abcdefghijkl;more")),
       "abcdefghijkl"},
      {"leading zeros", click_here_header(command_with_guide(u"0003:", u"Hello")), "Hel"},
      {"length zero", click_here_header(command_with_guide(u"0:", u"Hello")), ""},
      {"length of 30 digits takes the rest",
       click_here_header(command_with_guide(u"999999999999999999999999999999:", u"Hi")), "Hi"},
      {"length of 2^64 takes the rest",
       click_here_header(command_with_guide(u"18446744073709551616:", u"Hi")), "Hi"},
      {"length 65536 takes the rest", click_here_header(command_with_guide(u"65536:", u"Hi")),
       "Hi"},
      {"guide text empty at the end", click_here_header(command_with_guide(u"4:", u"")), ""},
      {"no colon", click_here_header(command_with_guide(u"5", u"Hello")), ""},
      {"no digit", click_here_header(command_with_guide(u":", u"Hello")), ""},
      {"sign before the digits", click_here_header(command_with_guide(u"+5:", u"Hello")), ""},
      {"command ends in the digits", click_here_header(command_with_guide(u"5", u"")), ""},
      {"command ends at the key", click_here_header(u"Direction:wstring:"), ""},
      {"key cut short", click_here_header(u"Direction:wstring"), ""},
      {"lower-case key", click_here_header(u"direction:wstring:5:Hello"), ""},
      {"key after other settings",
       click_here_header(u"Clickhere:set:66:Direction:wstring:4:Name HelpState:"), "Name"},
      {"first of two keys", click_here_header(u"Direction:wstring:2:ab Direction:wstring:2:cd"),
       "ab"},
      {"first key ill-formed, second well-formed",
       click_here_header(u"Direction:wstring:x Direction:wstring:2:cd"), ""},
      {"key inside the guide text of the first",
       click_here_header(u"Direction:wstring:Direction:wstring:2:cd"), ""},
      {"guide text beyond the declared command is cut",
       click_here_header(command_with_guide(u"5:", u"Hel")).trailing(test::utf16le(u"lo")), "Hel"},
      {"key only in the data after the command",
       click_here_header(u"xx").trailing(test::utf16le(u"Direction:wstring:1:a")), ""},
      {"key at an odd byte offset is not a key",
       click_here_header(u"\u4400\u6900\u7200\u6500\u6300\u7400\u6900\u6F00\u6E00"
                         u"\u3A00\u7700\u7300\u7400\u7200\u6900\u6E00\u6700\u3A00"
                         u"\u3100\u3A00\u6100")
           .trailing({0x00}),
       ""},
      {"surrogate pair in the guide", click_here_header(command_with_guide(u"2:", u"\xD83D\xDE00")),
       "\xF0\x9F\x98\x80"},
      {"lone high surrogate in the guide", click_here_header(command_with_guide(u"2:", u"a\xD83D")),
       ""},
      {"lone low surrogate in the guide", click_here_header(command_with_guide(u"2:", u"\xDE00z")),
       ""},
      {"length splitting a pair", click_here_header(command_with_guide(u"1:", u"\xD83D\xDE00")),
       ""},
      {"lone surrogate after the guide is not read",
       click_here_header(command_with_guide(u"1:", u"a\xD83D")), "a"},
      {"Hangul guide", click_here_header(command_with_guide(u"2:", u"\uC774\uB984")),
       "\xEC\x9D\xB4\xEB\xA6\x84"},
      {"property 0x00008000", click_here_header(u"").properties(0x00008000), "", true},
      {"property 0x00007FFF", click_here_header(u"").properties(0x00007FFF), "", false},
      {"property 0xFFFF7FFF", click_here_header(u"").properties(0xFFFF7FFF), "", false},
      {"modified kept with an ill-formed guide",
       click_here_header(u"Direction:wstring:x").properties(0x8000), "", true},
      {"modified is bit 7 of byte 5", with_byte(click_here_header(u""), 5, 0x80), "", true},
  };
  return cases;
}

TEST(ReadClickHereHeader, Cases) {
  for (const HeaderCase& c : header_cases()) {
    SCOPED_TRACE(c.name);
    const std::optional<ClickHereHeader> header = read_click_here_header(c.payload);
    ASSERT_EQ(header.has_value(), c.direction.has_value());
    if (!header) continue;
    EXPECT_EQ(header->direction, *c.direction);
    EXPECT_EQ(header->modified, c.modified);
  }
}

// Every prefix of a well-formed header: nothing until the whole command is present.
TEST(ReadClickHereHeader, EveryPrefix) {
  const Payload payload =
      click_here_header(command_with_guide(u"5:", u"Hello")).properties(0x8000).trailing({1, 2, 3});
  const std::size_t whole_command = 11 + 2 * 25;
  for (std::size_t size = 0; size <= payload.size(); ++size) {
    SCOPED_TRACE("prefix " + std::to_string(size));
    const std::optional<ClickHereHeader> header = read_click_here_header(truncated(payload, size));
    ASSERT_EQ(header.has_value(), size >= whole_command);
    if (header) {
      EXPECT_EQ(header->direction, "Hello");
      EXPECT_TRUE(header->modified);
    }
  }
}

}  // namespace
}  // namespace paravox
