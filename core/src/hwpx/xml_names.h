// Which characters beyond ASCII may start or continue an XML name.
#pragma once

namespace paravox {

// XML 1.0's name characters as its fourth edition classes them (letters, digits, combining
// marks and extenders of Unicode 2.0), which is what expat and most parsers accept; nothing
// past U+FFFF is a name character. For code points of U+0080 and above only.
bool is_xml_name_start_char(char32_t c) noexcept;
bool is_xml_name_char(char32_t c) noexcept;

}  // namespace paravox
