#include "hwpx/xml.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "hwpx/xml_names.h"

namespace paravox {
namespace {

// Why a part is not read. The first group are well-formedness faults; the last three are
// refusals of XML that is well-formed but not what a package part may hold.
enum class Fault : std::uint8_t {
  None,
  InvalidToken,
  Unclosed,
  NoElement,
  Mismatched,
  DuplicateAttribute,
  UndefinedEntity,
  BadCharacterReference,
  JunkAfterRoot,
  MisplacedDeclaration,
  BadDeclaration,
  Encoding,
  Entities,
  InternalSubset,
  TooDeep,
};

std::string_view describe(Fault fault) {
  switch (fault) {
    case Fault::InvalidToken:
      return "not well-formed (invalid token)";
    case Fault::Unclosed:
      return "unclosed token";
    case Fault::NoElement:
      return "no element found";
    case Fault::Mismatched:
      return "mismatched tag";
    case Fault::DuplicateAttribute:
      return "duplicate attribute";
    case Fault::UndefinedEntity:
      return "undefined entity";
    case Fault::BadCharacterReference:
      return "reference to invalid character number";
    case Fault::JunkAfterRoot:
      return "junk after document element";
    case Fault::MisplacedDeclaration:
      return "XML declaration not at start of part";
    case Fault::BadDeclaration:
      return "XML declaration not well-formed";
    default:
      return "";
  }
}

// Byte classes of ASCII name characters: 1 may start a name, 2 only continue one. Bytes of
// 0x80 and above are decoded and looked up (xml_names.h).
constexpr std::array<std::uint8_t, 256> kNameBytes = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 'a'; c <= 'z'; ++c) table[c] = 1;
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = 1;
  table['_'] = 1;
  table[':'] = 1;
  for (int c = '0'; c <= '9'; ++c) table[c] = 2;
  table['.'] = 2;
  table['-'] = 2;
  return table;
}();

// Attribute value bytes that need no attention: ASCII characters other than the quotes, '<',
// '&' and '>' (which is allowed, but ends the unchecked scan), and no control characters.
constexpr std::array<bool, 256> kValueBytes = [] {
  std::array<bool, 256> table{};
  for (int c = 0x20; c < 0x80; ++c) table[c] = true;
  for (const char c : {'"', '\'', '<', '&', '>'}) table[static_cast<unsigned char>(c)] = false;
  return table;
}();

constexpr std::array<bool, 256> kSpaceBytes = [] {
  std::array<bool, 256> table{};
  for (const char c : {' ', '\n', '\t', '\r'}) table[static_cast<unsigned char>(c)] = true;
  return table;
}();

constexpr bool is_space(unsigned char c) {
  return kSpaceBytes[c];
}

// A character XML allows, of those below U+0080 (the rest is checked when decoded).
constexpr bool is_ascii_char(unsigned char c) {
  return c >= 0x20 || c == '\n' || c == '\t' || c == '\r';
}

// Decodes the UTF-8 sequence at the start of `s` (whose first byte is 0x80 or above) into
// `c`; returns its length, or 0 when it is not the shortest encoding of a scalar value.
std::size_t decode_utf8(std::string_view s, char32_t& c) {
  const auto byte = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char unit = byte(k);
    if (unit < (k == 1 ? low : 0x80) || unit > (k == 1 ? high : 0xBF)) return 0;
    c = (c << 6) | (unit & 0x3F);
  }
  return length;
}

// A scalar value's UTF-8 encoding.
class Utf8 {
 public:
  explicit Utf8(char32_t c) {
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | (c >> 6));
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | (c >> 12));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | (c >> 18));
      put(0x80 | ((c >> 12) & 0x3F));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
  std::string_view view() const { return {bytes_.data(), size_}; }

 private:
  void put(char32_t byte) { bytes_[size_++] = static_cast<char>(byte); }
  std::array<char, 4> bytes_{};
  std::size_t size_ = 0;
};

// The length of the XML character at the start of `s` (first byte 0x80 or above), or 0
// when it is malformed UTF-8 or one of the two noncharacters XML excludes.
std::size_t xml_char_length(std::string_view s) {
  // Hangul syllables, most CJK characters and punctuation: three bytes led by E1 to EC (or
  // EE), where no sequence is overlong, a surrogate (led by ED) or a noncharacter (EF).
  const auto lead = static_cast<unsigned char>(s[0]);
  if ((lead - 0xE1u <= 0xECu - 0xE1u || lead == 0xEE) && s.size() >= 3 &&
      (static_cast<unsigned char>(s[1]) & 0xC0) == 0x80 &&
      (static_cast<unsigned char>(s[2]) & 0xC0) == 0x80) {
    return 3;
  }
  char32_t c = 0;
  const std::size_t length = decode_utf8(s, c);
  return c == 0xFFFE || c == 0xFFFF ? 0 : length;
}

#if defined(__SSE2__)
// A bit for each byte of `v` that is an ASCII name character: a letter, a digit, '_', ':',
// '.' or '-'. Each range is one signed comparison after shifting its start to -128.
inline unsigned ascii_name_bytes(__m128i v) {
  const auto in_range = [](__m128i x, char low, int count) {
    const __m128i shifted = _mm_add_epi8(x, _mm_set1_epi8(static_cast<char>(-128 - low)));
    return _mm_cmplt_epi8(shifted, _mm_set1_epi8(static_cast<char>(-128 + count)));
  };
  const __m128i letters = in_range(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 26);
  const __m128i digits_colon = in_range(v, '0', 11);
  const __m128i dash_dot = in_range(v, '-', 2);
  const __m128i underscore = _mm_cmpeq_epi8(v, _mm_set1_epi8('_'));
  return static_cast<unsigned>(_mm_movemask_epi8(
      _mm_or_si128(_mm_or_si128(letters, digits_colon), _mm_or_si128(dash_dot, underscore))));
}
#endif

// The offset of the first byte of `s` at or after `from` that is below 0x20, above 0x7F or
// one of a, b, c; s.size() when there is none. Most of a part is ASCII between such bytes.
std::size_t find_special(std::string_view s, std::size_t from, char a, char b, char c) {
  std::size_t i = from;
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  const __m128i vc = _mm_set1_epi8(c);
  const __m128i space = _mm_set1_epi8(0x20);
  while (s.size() - i >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
    // Signed, bytes of 0x80 and above are negative: one comparison finds them and controls.
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, vc), _mm_cmplt_epi8(v, space)));
    if (const int mask = _mm_movemask_epi8(hit); mask != 0) {
      return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
    i += 16;
  }
#endif
  for (; i < s.size(); ++i) {
    const char x = s[i];
    if (static_cast<unsigned char>(x) - 0x20u >= 0x60u || x == a || x == b || x == c) return i;
  }
  return s.size();
}

// Start tags of one name mostly repeat their attributes in one order, and many of their
// values (a section is mostly line segments whose values change in one or two places). The
// last start tag read of a name is kept as offsets into the part: bytes equal to those of a
// tag already checked need no second check, so a run of equal bytes that covers whole
// attributes passes them without a look, and one that covers an attribute up to its opening
// quote gives its name.
constexpr std::size_t kShapeAttributes = 24;
constexpr std::size_t kShapeSlots = 64;

// Where one attribute lies, counted from the end of the one before it (for the first, from
// the end of the tag's name): a space, the name, '=' and the quote, the value, the quote.
struct AttributeSpan {
  std::uint32_t name_offset;
  std::uint32_t name_length;
  std::uint32_t value_offset;  // the value's first byte, after the opening quote
  std::uint32_t length;        // to the byte after the closing quote

  std::uint32_t value_length() const { return length - value_offset - 1; }
};

// The last start tag of one name, when it had at most kShapeAttributes attributes. Only `tag`
// is set at first: the rest is written whole when a tag is kept, so a part's table of shapes
// costs no clearing of its 28 KiB.
struct TagShape {
  std::string_view tag;   // its name, in the part; empty: nothing kept
  std::size_t base;       // the offset of the byte after its name
  std::size_t length;     // from there to the end of the tag, after '>'
  std::size_t count;      // attributes
  std::uint32_t resolve;  // a bit for each attribute whose value needs resolving
  bool empty;             // ends with "/>"
  std::array<AttributeSpan, kShapeAttributes> spans;
};

class Reader {
 public:
  Reader(std::string_view xml, XmlHandler& handler) : s_(xml), handler_(handler) {}

  Fault read() {
    // After the last '>' only white space may follow. Reading up to that '>' lets the scans
    // of names, spaces and attribute values run without a bounds check: each stops at '>'.
    const std::size_t last = s_.rfind('>');
    if (last == std::string_view::npos) return fail(0, Fault::NoElement);
    const std::string_view rest = view(last + 1);
    s_ = view(0, last + 1);
    const Fault fault = read_to_last_bracket();
    if (fault != Fault::None) return fault;
    for (std::size_t k = 0; k < rest.size(); ++k) {
      if (!is_space(static_cast<unsigned char>(rest[k])))
        return fail(s_.size() + k, Fault::JunkAfterRoot);
    }
    return Fault::None;
  }

  std::size_t fault_offset() const { return fault_offset_; }

 private:
  Fault read_to_last_bracket() {
    std::size_t i = 0;
    if (s_.starts_with("\xEF\xBB\xBF")) i = 3;
    if (view(i).starts_with("<?")) {
      i = processing_instruction(i, true);
      if (fault_ != Fault::None) return fault_;
    }
    i = misc(i);
    if (fault_ != Fault::None) return fault_;
    if (i == s_.size()) return fail(i, Fault::NoElement);
    if (view(i).starts_with("<!DOCTYPE")) {
      i = document_type(i);
      if (fault_ != Fault::None) return fault_;
      i = misc(i);
      if (fault_ != Fault::None) return fault_;
      if (i == s_.size()) return fail(i, Fault::NoElement);
    }
    // The root: a start tag, not an end tag, CDATA section or other declaration.
    if (s_[i] != '<') return fail(i, Fault::InvalidToken);
    if (i + 1 == s_.size()) return fail(i, Fault::Unclosed);
    if (s_[i + 1] == '/' || s_[i + 1] == '!') return fail(i, Fault::InvalidToken);
    i = content(i);
    if (fault_ != Fault::None) return fault_;
    i = misc(i);
    if (fault_ != Fault::None) return fault_;
    if (i != s_.size()) return fail(i, Fault::JunkAfterRoot);
    return Fault::None;
  }

  unsigned char at(std::size_t i) const { return static_cast<unsigned char>(s_[i]); }
  // The bytes from `i` (at most the end) for `n` bytes or to the end, whichever is first;
  // string_view::substr would check `i` again on every call.
  std::string_view view(std::size_t i, std::size_t n = std::string_view::npos) const {
    return {s_.data() + i, std::min(n, s_.size() - i)};
  }
  bool starts_with(std::size_t i, std::string_view prefix) const {
    return view(i).starts_with(prefix);
  }

  Fault fail(std::size_t i, Fault fault) {
    if (fault_ == Fault::None) {
      fault_ = fault;
      fault_offset_ = i;
    }
    return fault_;
  }
  // Records a fault and returns the end of input, where every loop stops.
  std::size_t stop(std::size_t i, Fault fault) {
    fail(i, fault);
    return s_.size();
  }
  // A token that the input ends inside.
  std::size_t cut(std::size_t i) { return stop(i, Fault::Unclosed); }

  bool visiting() const { return depth_ == visited_ && fault_ == Fault::None; }

  // The final '>' ends every run of spaces.
  std::size_t skip_spaces(std::size_t i) const {
    while (is_space(at(i))) ++i;
    return i;
  }

  // Comments, processing instructions and white space before or after the root element;
  // returns where something else starts (or the end).
  std::size_t misc(std::size_t i) {
    for (;;) {
      if (i == s_.size()) return i;
      i = skip_spaces(i);
      if (s_[i] != '<') return i;
      if (starts_with(i, "<!--")) {
        i = comment(i);
      } else if (starts_with(i, "<?")) {
        i = processing_instruction(i, false);
      } else {
        return i;
      }
      if (fault_ != Fault::None) return s_.size();
    }
  }

  // The end of a name starting at `i` (before the end), or a fault when none starts there.
  // The byte after the name is never a name character; the final '>' ends every name.
  std::size_t name(std::size_t i) {
    if (kNameBytes[at(i)] != 1) return name_from(i, true);
    ++i;
#if defined(__SSE2__)
    while (s_.size() - i >= 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s_.data() + i));
      const unsigned others = ~ascii_name_bytes(v) & 0xFFFFu;
      if (others != 0) {
        i += static_cast<std::size_t>(__builtin_ctz(others));
        return at(i) < 0x80 ? i : name_from(i, false);
      }
      i += 16;
    }
#endif
    return name_from(i, false);
  }

  // The rest of a name from `i`, where a name starts (`first`) or continues. Out of line:
  // names are ASCII but for a few, and name() stays small enough to inline.
  [[gnu::noinline]] std::size_t name_from(std::size_t i, bool first) {
    if (first) {
      if (kNameBytes[at(i)] == 1) {
        ++i;
      } else if (at(i) >= 0x80) {
        char32_t c = 0;
        const std::size_t length = decode_utf8(view(i), c);
        if (length == 0 || !is_xml_name_start_char(c)) return stop(i, Fault::InvalidToken);
        i += length;
      } else {
        return stop(i, Fault::InvalidToken);
      }
    }
    for (;;) {
      while (kNameBytes[at(i)] != 0) ++i;
      if (at(i) < 0x80) return i;
      char32_t c = 0;
      const std::size_t length = decode_utf8(view(i), c);
      if (length == 0 || !is_xml_name_char(c)) return stop(i, Fault::InvalidToken);
      i += length;
    }
  }

  // Skips characters up to the first of the ASCII bytes `a`, `b` and `c` or of the bytes
  // below 0x20 (tab, line feed and carriage return included); faults on any character XML
  // excludes.
  std::size_t chars(std::size_t i, char a, char b, char c) {
    for (;;) {
      i = find_special(s_, i, a, b, c);
      if (i == s_.size() || at(i) < 0x80) return i;
      do {
        const std::size_t length = xml_char_length(view(i));
        if (length == 0) return stop(i, Fault::InvalidToken);
        i += length;
      } while (i < s_.size() && at(i) >= 0x80);
    }
  }

  // Like chars, stopping only at `a` (and the end); line ends and tabs are passed.
  std::size_t chars_to(std::size_t i, char a) {
    for (;;) {
      i = chars(i, a, a, a);
      if (i == s_.size() || s_[i] == a) return i;
      if (!is_ascii_char(at(i))) return stop(i, Fault::InvalidToken);
      ++i;
    }
  }

  std::size_t comment(std::size_t i) {
    for (i += 4;;) {
      i = chars_to(i, '-');
      if (i == s_.size()) return cut(i);
      if (i + 1 < s_.size() && s_[i + 1] == '-') {
        if (i + 2 == s_.size()) return cut(i);
        if (s_[i + 2] != '>') return stop(i, Fault::InvalidToken);
        return i + 3;
      }
      if (i + 1 == s_.size()) return cut(i);
      ++i;
    }
  }

  // A document type declaration naming at most an external subset, which is never read. An
  // internal subset is refused: HWPX parts have none, and entities are never expanded.
  std::size_t document_type(std::size_t i) {
    i += 9;  // "<!DOCTYPE"; the final '>' follows at the latest
    if (!is_space(at(i))) return stop(i, Fault::InvalidToken);
    i = name(skip_spaces(i));
    if (fault_ != Fault::None) return i;
    for (const std::string_view keyword : {"SYSTEM", "PUBLIC"}) {
      if (!is_space(at(i)) || !view(skip_spaces(i)).starts_with(keyword)) continue;
      i = skip_spaces(i) + keyword.size();
      if (keyword == "PUBLIC") {
        i = literal(i, true);
        if (fault_ != Fault::None) return i;
      }
      i = literal(i, false);
      if (fault_ != Fault::None) return i;
      break;
    }
    i = skip_spaces(i);
    if (at(i) == '[') {
      const bool entities = view(i).find("<!ENTITY") != std::string_view::npos;
      return stop(i, entities ? Fault::Entities : Fault::InternalSubset);
    }
    if (at(i) != '>') return stop(i, Fault::InvalidToken);
    return i + 1;
  }

  // White space, then a quoted system literal (any characters but the quote) or public
  // identifier (letters, digits, space and -'()+,./:=?;!*#@$_%); its end.
  std::size_t literal(std::size_t i, bool public_id) {
    if (!is_space(at(i))) return stop(i, Fault::InvalidToken);
    i = skip_spaces(i);
    const char quote = s_[i];
    if (quote != '"' && quote != '\'') return stop(i, Fault::InvalidToken);
    const std::size_t start = ++i;
    i = chars_to(i, quote);
    if (i == s_.size()) return cut(start);
    if (public_id) {
      constexpr std::string_view kPunctuation = " \r\n-'()+,./:=?;!*#@$_%";
      for (const char c : view(start, i - start)) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') ||
                             kPunctuation.find(c) != std::string_view::npos;
        if (!allowed) return stop(start, Fault::InvalidToken);
      }
    }
    return i + 1;
  }

  // A processing instruction, or at the start of the part the XML declaration.
  std::size_t processing_instruction(std::size_t i, bool first) {
    const std::size_t start = i;
    const std::size_t target_end = name(i + 2);
    if (fault_ != Fault::None) return target_end;
    const std::string_view target = view(i + 2, target_end - (i + 2));
    const bool reserved = target.size() == 3 && (target[0] | 0x20) == 'x' &&
                          (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l';
    if (reserved && target != "xml") return stop(i, Fault::InvalidToken);
    i = target_end;
    if (i == s_.size()) return cut(i);
    std::size_t body = i;
    if (!starts_with(i, "?>")) {
      if (!is_space(at(i))) return stop(i, Fault::InvalidToken);
      for (;;) {
        i = chars_to(i, '?');
        if (i == s_.size()) return cut(start);
        if (starts_with(i, "?>")) break;
        ++i;
      }
    }
    if (reserved) {
      if (!first) return stop(start, Fault::MisplacedDeclaration);
      declaration(body, i);
    }
    return i + 2;
  }

  // The pseudo-attributes of the XML declaration between `i` and `end`: version, then
  // optionally encoding (which must name UTF-8) and standalone.
  void declaration(std::size_t i, std::size_t end) {
    const std::size_t start = i;
    std::string_view name;
    std::string_view value;
    if (!pseudo_attribute(i, end, name, value) || name != "version" ||
        !pseudo_attribute(i, end, name, value)) {
      fail(i, Fault::BadDeclaration);
      return;
    }
    bool utf8 = true;
    if (name == "encoding") {
      const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c;
      };
      const std::string_view encoding = value;
      if (encoding.empty() || lower(encoding[0]) < 'a' || lower(encoding[0]) > 'z' ||
          !pseudo_attribute(i, end, name, value)) {
        fail(i, Fault::BadDeclaration);
        return;
      }
      utf8 = encoding.size() == 5 && std::equal(encoding.begin(), encoding.end(), "utf-8",
                                                [&](char a, char b) { return lower(a) == b; });
    }
    if (!name.empty() &&
        (name != "standalone" || (value != "yes" && value != "no") || skip_spaces(i) < end)) {
      fail(i, Fault::BadDeclaration);
      return;
    }
    if (!utf8) fail(start, Fault::Encoding);
  }

  // One `name="value"` of the XML declaration, after white space; an empty name at the end.
  // Values hold letters, digits, '.', '-' and '_' only.
  bool pseudo_attribute(std::size_t& i, std::size_t end, std::string_view& name,
                        std::string_view& value) {
    name = {};
    if (i == end) return true;
    if (!is_space(at(i))) return false;
    i = std::min(skip_spaces(i), end);
    if (i == end) return true;
    const std::size_t name_start = i;
    while (i < end && s_[i] != '=' && !is_space(at(i))) {
      if (at(i) >= 0x80) return false;
      ++i;
    }
    name = view(name_start, i - name_start);
    i = std::min(skip_spaces(i), end);
    if (i == end || s_[i] != '=' || name.empty()) return false;
    i = std::min(skip_spaces(i + 1), end);
    if (i == end || (s_[i] != '"' && s_[i] != '\'')) return false;
    const char quote = s_[i++];
    const std::size_t value_start = i;
    for (; i < end && s_[i] != quote; ++i) {
      const char c = s_[i];
      const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
      if (!allowed) return false;
    }
    if (i == end) return false;
    value = view(value_start, i - value_start);
    ++i;
    return true;
  }

  // A reference after the '&' at `i`: its end, and through `c` the character it stands for.
  std::size_t reference(std::size_t i, char32_t& c) {
    const std::size_t start = i++;
    if (i == s_.size()) return cut(start);
    if (s_[i] == '#') {
      ++i;
      const bool hex = i < s_.size() && s_[i] == 'x';
      if (hex) ++i;
      std::uint32_t value = 0;
      const std::size_t digits = i;
      for (; i < s_.size(); ++i) {
        const char d = s_[i];
        std::uint32_t digit = 0;
        if (d >= '0' && d <= '9') {
          digit = static_cast<std::uint32_t>(d - '0');
        } else if (hex && (d | 0x20) >= 'a' && (d | 0x20) <= 'f') {
          digit = static_cast<std::uint32_t>((d | 0x20) - 'a' + 10);
        } else {
          break;
        }
        value = value * (hex ? 16 : 10) + digit;
        if (value > 0x10FFFF) value = 0x110000;  // stays out of range, never wraps
      }
      if (i == s_.size()) return cut(start);
      if (i == digits || s_[i] != ';') return stop(i, Fault::InvalidToken);
      const bool allowed = (value >= 0x20 && value <= 0xD7FF) || value == 0x9 || value == 0xA ||
                           value == 0xD || (value >= 0xE000 && value <= 0xFFFD) ||
                           (value >= 0x10000 && value <= 0x10FFFF);
      if (!allowed) return stop(start, Fault::BadCharacterReference);
      c = value;
      return i + 1;
    }
    const std::size_t name_end = name(i);
    if (fault_ != Fault::None) return name_end;
    if (name_end == s_.size()) return cut(start);
    if (s_[name_end] != ';') return stop(name_end, Fault::InvalidToken);
    const std::string_view entity = view(i, name_end - i);
    if (entity == "lt") {
      c = '<';
    } else if (entity == "gt") {
      c = '>';
    } else if (entity == "amp") {
      c = '&';
    } else if (entity == "apos") {
      c = '\'';
    } else if (entity == "quot") {
      c = '"';
    } else {
      return stop(start, Fault::UndefinedEntity);
    }
    return name_end + 1;
  }

  void emit(std::string_view text) {
    if (!text.empty()) handler_.character_data(text);
  }

  void emit_char(char32_t c) {
    const Utf8 utf8(c);
    handler_.character_data(utf8.view());
  }

  // The root element and everything in it, from the '<' at `i`; returns where it ends.
  std::size_t content(std::size_t i) {
    do {
      if (s_[i] == '<') {
        i = markup(i);
      } else {
        i = text(i);
      }
      if (fault_ != Fault::None) return s_.size();
      if (i == s_.size() && depth_ > 0) return stop(i, Fault::NoElement);
    } while (depth_ > 0);
    return i;
  }

  // Character data up to the next markup, handed over in runs between the characters that
  // are written otherwise (references, line ends).
  std::size_t text(std::size_t i) {
    std::size_t start = i;
    for (;;) {
      i = chars(i, '<', '&', ']');
      if (fault_ != Fault::None) return i;
      if (i < s_.size()) {
        const char c = s_[i];
        if (c == '\n' || c == '\t' || (c == ']' && !starts_with(i, "]]>"))) {
          ++i;
          continue;
        }
      }
      if (visiting()) emit(view(start, i - start));
      if (i == s_.size()) return i;
      const char c = s_[i];
      if (c == '<') return i;
      if (c == '&') {
        char32_t value = 0;
        i = reference(i, value);
        if (fault_ != Fault::None) return i;
        if (visiting()) emit_char(value);
      } else if (c == '\r') {
        i = line_end(i);
      } else {
        return stop(i, Fault::InvalidToken);  // "]]>", or a character XML excludes
      }
      start = i;
    }
  }

  // A CR LF pair or a lone CR, read as one line feed.
  std::size_t line_end(std::size_t i) {
    ++i;
    if (i < s_.size() && s_[i] == '\n') ++i;
    if (visiting()) emit("\n");
    return i;
  }

  std::size_t markup(std::size_t i) {
    if (i + 1 == s_.size()) return cut(i);
    switch (s_[i + 1]) {
      case '/':
        return end_tag(i);
      case '?':
        return processing_instruction(i, false);
      case '!':
        if (starts_with(i, "<!--")) return comment(i);
        if (starts_with(i, "<![CDATA[")) return cdata(i);
        if (s_.size() - i < 9 && std::string_view("<![CDATA[").starts_with(view(i))) {
          return cut(i);
        }
        return stop(i, Fault::InvalidToken);
      default:
        return start_tag(i);
    }
  }

  std::size_t cdata(std::size_t i) {
    i += 9;
    std::size_t start = i;
    for (;;) {
      i = chars(i, ']', ']', ']');
      if (fault_ != Fault::None) return i;
      if (i < s_.size()) {
        const char c = s_[i];
        if (c == '\n' || c == '\t' || (c == ']' && !starts_with(i, "]]>"))) {
          ++i;
          continue;
        }
      }
      if (visiting()) emit(view(start, i - start));
      if (i == s_.size()) return cut(i);
      const char c = s_[i];
      if (c == ']') return i + 3;
      if (c != '\r') return stop(i, Fault::InvalidToken);
      i = line_end(i);
      start = i;
    }
  }

  // An attribute value after its opening quote; its end after the closing one.
  std::size_t attribute_value(std::size_t i, char quote, bool& resolve) {
    for (;;) {
      while (kValueBytes[at(i)]) ++i;  // the final '>' ends the run
      const char c = s_[i];
      if (c == quote) return i + 1;
      if (c == '>' || c == '"' || c == '\'') {
        if (i + 1 == s_.size()) return cut(i);
        ++i;
      } else if (c == '&') {
        char32_t ignored = 0;
        i = reference(i, ignored);
        if (fault_ != Fault::None) return i;
        resolve = true;
      } else if (c == '\t' || c == '\n' || c == '\r') {
        ++i;
        resolve = true;
      } else if (at(i) >= 0x80) {
        const std::size_t length = xml_char_length(view(i));
        if (length == 0) return stop(i, Fault::InvalidToken);
        i += length;
      } else {
        return stop(i, Fault::InvalidToken);  // '<' or a control character
      }
    }
  }

  std::size_t start_tag(std::size_t i) {
    const std::size_t name_start = i + 1;
    i = name(name_start);
    if (fault_ != Fault::None) return i;
    const std::string_view tag_name = view(name_start, i - name_start);
    const std::size_t after_name = i;
    TagShape& shape = shapes_[shape_slot(tag_name)];
    std::size_t known = 0;  // leading attributes named as in the tag kept
    bool empty = false;
    if (keep_shapes_ && same_name(shape.tag, tag_name)) {
      bool complete = false;
      i = repeated_attributes(shape, i, known, complete);
      if (fault_ != Fault::None) return i;
      raw_count_ = known;
      if (complete) {
        // Every attribute is named and placed as in the tag kept, which now describes this one;
        // the handler has them listed from it if it asks (resolving needs them at once).
        shape.base = after_name;
        shape.length = i - after_name;
        resolve_ = shape.resolve != 0;
        if (resolve_) {
          known_attributes(shape, after_name, known);
        } else {
          unlisted_ = &shape;
        }
        return element_started(tag_name, name_start, i, shape.empty);
      }
      known_attributes(shape, after_name, known);
      resolve_ = (shape.resolve & ((std::uint32_t{1} << known) - 1)) != 0;
    } else {
      raw_count_ = 0;
      resolve_ = false;
    }
    std::uint32_t resolve_bits = 0;
    for (;;) {
      unsigned char c = at(i);
      if (c == '>') {
        ++i;
        break;
      }
      if (c == '/') {
        if (s_[i + 1] != '>') return stop(i, Fault::InvalidToken);
        i += 2;
        empty = true;
        break;
      }
      if (!is_space(c)) return stop(i, Fault::InvalidToken);
      i = skip_spaces(i);
      c = at(i);
      if (c == '>' || c == '/') continue;
      const std::size_t attribute_start = i;
      i = name(i);
      if (fault_ != Fault::None) return i;
      const std::string_view attribute_name = view(attribute_start, i - attribute_start);
      i = skip_spaces(i);
      if (s_[i] != '=') return stop(i, Fault::InvalidToken);
      i = skip_spaces(i + 1);
      if (s_[i] != '"' && s_[i] != '\'') return stop(i, Fault::InvalidToken);
      const std::size_t value_start = i + 1;
      bool resolve = false;
      i = attribute_value(value_start, s_[i], resolve);
      if (fault_ != Fault::None) return i;
      if (resolve) {
        resolve_ = true;
        if (raw_count_ < kShapeAttributes) resolve_bits |= std::uint32_t{1} << raw_count_;
      }
      // Grown by hand: a vector's push_back cost a third of a short attribute.
      if (raw_count_ == raw_.size()) raw_.resize(std::max<std::size_t>(32, 2 * raw_.size()));
      raw_[raw_count_++] = {attribute_name, {s_.data() + value_start, i - 1 - value_start}};
    }
    // Names that all match the first ones of a tag already checked cannot repeat.
    if (raw_count_ > known && has_duplicate_attribute()) {
      return stop(name_start, Fault::DuplicateAttribute);
    }
    if (keep_shapes_) keep(shape, tag_name, after_name, i, empty, known, resolve_bits);
    return element_started(tag_name, name_start, i, empty);
  }

  // The attributes of a start tag named as `shape`'s from `p`, its name's end, for as long as
  // they are named and placed as those of the tag kept: their number through `k`, and where
  // they end. Values that differ are read, and the kept spans rewritten for them; `complete`
  // when the rest of the tag equals the kept tag's rest, the end included.
  std::size_t repeated_attributes(TagShape& shape, std::size_t p, std::size_t& k, bool& complete) {
    std::size_t q = shape.base;  // where the kept tag is at `p`'s place
    const std::size_t end = shape.base + shape.length;
    const std::size_t count = shape.count;
    for (;;) {
      std::size_t same = common_length(p, q, end - q);
      if (same == end - q) {  // the rest, attributes and end, as kept
        k = count;
        complete = true;
        return p + same;
      }
      while (k < count && shape.spans[k].length <= same) {
        const std::size_t length = shape.spans[k].length;
        same -= length;
        p += length;
        q += length;
        ++k;
      }
      if (k == count) return p;  // the same attributes, then another one or other spaces
      AttributeSpan& span = shape.spans[k];
      if (same < span.value_offset) return p;  // another name, or other spaces or quotes
      const std::size_t value_start = p + span.value_offset;
      bool resolve = false;
      p = attribute_value(value_start, s_[value_start - 1], resolve);
      if (fault_ != Fault::None) return p;
      q += span.length;
      const std::size_t boundary = value_start - span.value_offset;
      span.length = static_cast<std::uint32_t>(p - boundary);
      const std::uint32_t bit = std::uint32_t{1} << k;
      shape.resolve = resolve ? shape.resolve | bit : shape.resolve & ~bit;
      ++k;
    }
  }

  // How many bytes from `p` equal those from `q` (before it), at most `limit`.
  std::size_t common_length(std::size_t p, std::size_t q, std::size_t limit) const {
    std::size_t n = 0;
#if defined(__SSE2__)
    while (n < limit && s_.size() - p - n >= 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s_.data() + p + n));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s_.data() + q + n));
      const unsigned differ =
          ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b))) & 0xFFFFu;
      if (differ != 0) return std::min(limit, n + static_cast<std::size_t>(__builtin_ctz(differ)));
      n += 16;
    }
#endif
    while (n < limit && p + n < s_.size() && s_[p + n] == s_[q + n]) ++n;
    return std::min(n, limit);
  }

  // The attribute placed as `span` after `i`.
  XmlAttribute known_attribute(const AttributeSpan& span, std::size_t i) const noexcept {
    return {{s_.data() + i + span.name_offset, span.name_length},
            {s_.data() + i + span.value_offset, span.value_length()}};
  }

  // Fills raw_ with the first `count` attributes of the tag whose name ends at `i`, placed as
  // `shape`'s.
  void known_attributes(const TagShape& shape, std::size_t i, std::size_t count) noexcept {
    for (std::size_t k = 0; k < count; ++k) {
      raw_[k] = known_attribute(shape.spans[k], i);
      i += shape.spans[k].length;
    }
  }

  // Whether `earlier`, a name read before, is `name`, both views of the part.
  bool same_name(std::string_view earlier, std::string_view name) const {
    if (earlier.size() != name.size()) return false;
#if defined(__SSE2__)
    if (name.size() <= 16 && s_.data() + s_.size() - name.data() >= 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(earlier.data()));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(name.data()));
      const unsigned equal = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
      const unsigned needed = (1u << name.size()) - 1;
      return (equal & needed) == needed;
    }
#endif
    return earlier == name;
  }

  // Keeps the start tag just read, from its name's end `after_name` to `end`, as `shape`,
  // unless it has too many attributes. The resolve bits of the first `known` attributes are
  // the shape's already.
  void keep(TagShape& shape, std::string_view tag_name, std::size_t after_name, std::size_t end,
            bool empty, std::size_t known, std::uint32_t resolve_bits) {
    if (raw_count_ > kShapeAttributes) {
      shape.tag = {};
      return;
    }
    std::size_t boundary = after_name;
    for (std::size_t k = 0; k < raw_count_; ++k) {
      const XmlAttribute& a = raw_[k];
      const auto offset = [&](std::string_view part) {
        return static_cast<std::uint32_t>(static_cast<std::size_t>(part.data() - s_.data()) -
                                          boundary);
      };
      const std::uint32_t value_offset = offset(a.value);
      shape.spans[k] = {offset(a.name), static_cast<std::uint32_t>(a.name.size()), value_offset,
                        value_offset + static_cast<std::uint32_t>(a.value.size()) + 1};
      boundary += shape.spans[k].length;
    }
    shape.tag = tag_name;
    shape.base = after_name;
    shape.length = end - after_name;
    shape.count = raw_count_;
    // A shape kept for the first time has no bits to carry over (known is 0).
    const std::uint32_t carried =
        known == 0 ? 0 : shape.resolve & ((std::uint32_t{1} << known) - 1);
    shape.resolve = carried | resolve_bits;
    shape.empty = empty;
  }

  // Hands a start tag whose attributes are in raw_ (or unlisted_) to the handler, and opens
  // its element.
  std::size_t element_started(std::string_view tag_name, std::size_t name_start, std::size_t i,
                              bool empty) {
    if (depth_ == kMaxElementDepth) return stop(name_start, Fault::TooDeep);
    const bool visit =
        visiting() && handler_.start_element(reported(tag_name)) == XmlVisit::Children;
    unlisted_ = nullptr;
    if (empty) {
      if (visit) handler_.end_element();
    } else {
      open_[depth_++] = tag_name;
      if (visit) ++visited_;
    }
    return i;
  }

  XmlStartTag reported(std::string_view tag_name) {
    if (unlisted_ != nullptr) return XmlStartTag(tag_name, &Reader::list_unlisted, this);
    return XmlStartTag(tag_name, attributes());
  }

  // The attributes of a tag described by unlisted_, listed into raw_ on the first call.
  static std::span<const XmlAttribute> list_unlisted(void* source) noexcept {
    Reader& reader = *static_cast<Reader*>(source);
    if (const TagShape* shape = reader.unlisted_; shape != nullptr) {
      reader.known_attributes(*shape, shape->base, reader.raw_count_);
      reader.unlisted_ = nullptr;
    }
    return {reader.raw_.data(), reader.raw_count_};
  }

  static std::size_t shape_slot(std::string_view tag) {
    return (tag.size() * 31 + static_cast<unsigned char>(tag.back()) * 7 +
            static_cast<unsigned char>(tag[tag.size() / 2])) %
           kShapeSlots;
  }

  std::size_t end_tag(std::size_t i) {
    const std::size_t name_start = i + 2;
    const std::string_view open = open_[depth_ - 1];
    // The open element's name was checked at its start: an equal name followed by a byte
    // that cannot continue a name needs no second look.
    if (same_name(open, view(name_start, open.size())) && name_start + open.size() < s_.size() &&
        kNameBytes[at(name_start + open.size())] == 0 && at(name_start + open.size()) < 0x80) {
      i = name_start + open.size();
    } else {
      i = name(name_start);
      if (fault_ != Fault::None) return i;
      return stop(name_start, Fault::Mismatched);
    }
    i = skip_spaces(i);
    if (s_[i] != '>') return stop(i, Fault::InvalidToken);
    if (depth_-- == visited_) {
      --visited_;
      handler_.end_element();
    }
    return i + 1;
  }

  // Names are compared only when a small hash of theirs repeats; a tag with many
  // attributes sorts them instead, so the check stays near linear.
  bool has_duplicate_attribute() {
    const std::size_t n = raw_count_;
    if (n < 2) return false;
    if (n <= 32) {
      std::uint64_t seen = 0;
      for (std::size_t k = 0; k < n; ++k) {
        const std::string_view a = raw_[k].name;
        const unsigned hash =
            static_cast<unsigned>(a.size() * 7 + static_cast<unsigned char>(a[0]) * 5 +
                                  static_cast<unsigned char>(a[a.size() / 2]) * 3 +
                                  static_cast<unsigned char>(a.back())) &
            63;
        if ((seen >> hash) & 1) {
          for (std::size_t j = 0; j < k; ++j) {
            if (raw_[j].name == a) return true;
          }
        }
        seen |= std::uint64_t{1} << hash;
      }
      return false;
    }
    names_.clear();
    for (std::size_t k = 0; k < n; ++k) names_.push_back(raw_[k].name);
    std::sort(names_.begin(), names_.end());
    return std::adjacent_find(names_.begin(), names_.end()) != names_.end();
  }

  // The attributes of the start tag just read, values resolved: references replaced, and
  // each tab, line feed, carriage return or CR LF pair written as a space. Most tags have
  // nothing to resolve and are handed over as read.
  std::span<const XmlAttribute> attributes() {
    if (!resolve_) return {raw_.data(), raw_count_};
    return resolved_attributes();
  }

  [[gnu::noinline]] std::span<const XmlAttribute> resolved_attributes() {
    const std::size_t n = raw_count_;
    constexpr std::string_view kResolved = "&\t\n\r";
    if (attributes_.size() < n) attributes_.resize(n);
    std::size_t room = 0;
    for (std::size_t k = 0; k < n; ++k) {
      attributes_[k] = raw_[k];
      if (raw_[k].value.find_first_of(kResolved) != std::string_view::npos) {
        room += raw_[k].value.size();
      }
    }
    resolved_.clear();
    resolved_.reserve(room);  // values only shrink, so the views below stay valid
    for (std::size_t k = 0; k < n; ++k) {
      if (raw_[k].value.find_first_of(kResolved) != std::string_view::npos) {
        attributes_[k].value = resolve(raw_[k].value);
      }
    }
    return {attributes_.data(), n};
  }

  // `value` (checked when its tag was read) with references replaced and each tab, line
  // feed, carriage return or CR LF pair written as a space, appended to resolved_.
  std::string_view resolve(std::string_view value) {
    const std::size_t start = resolved_.size();
    for (std::size_t k = 0; k < value.size();) {
      const std::size_t special = value.find_first_of("&\t\n\r", k);
      resolved_.append(value.substr(k, special - k));
      if (special == std::string_view::npos) break;
      k = special;
      if (value[k] == '&') {
        char32_t c = 0;
        const std::size_t at_part = static_cast<std::size_t>(value.data() - s_.data()) + k;
        k += reference(at_part, c) - at_part;
        resolved_.append(Utf8(c).view());
      } else {
        k += value[k] == '\r' && k + 1 < value.size() && value[k + 1] == '\n' ? 2 : 1;
        resolved_.push_back(' ');
      }
    }
    return std::string_view(resolved_).substr(start);
  }

  std::string_view s_;
  XmlHandler& handler_;
  Fault fault_ = Fault::None;
  std::size_t fault_offset_ = 0;
  std::array<std::string_view, kMaxElementDepth> open_{};
  std::size_t depth_ = 0;    // elements open
  std::size_t visited_ = 0;  // of those, the outer ones the handler visits
  // The first raw_count_ are the tag's, values as written between the quotes; resolve_ when
  // one of them holds a reference or white space other than ' '.
  std::vector<XmlAttribute> raw_ = std::vector<XmlAttribute>(kShapeAttributes);
  std::size_t raw_count_ = 0;
  bool resolve_ = false;
  // Set while the attributes of the tag being reported are those of this shape, not yet in raw_.
  const TagShape* unlisted_ = nullptr;
  std::vector<std::string_view> names_;
  std::unique_ptr<TagShape[]> shapes_{new TagShape[kShapeSlots]};  // default-initialised
  // Spans are kept in 32 bits: parts of 4 GiB or more are read without shapes.
  bool keep_shapes_ = s_.size() <= UINT32_MAX;
  std::vector<XmlAttribute> attributes_;
  std::string resolved_;
};

}  // namespace

Status read_xml(Bytes xml, std::string_view part_name, XmlHandler& handler) {
  const std::string_view text(reinterpret_cast<const char*>(xml.data()), xml.size());
  Reader reader(text, handler);
  const Fault fault = reader.read();
  const std::string part(part_name);
  switch (fault) {
    case Fault::None:
      return {};
    case Fault::Entities:
      return ConvertError::package(part + " declares XML entities");
    case Fault::InternalSubset:
      return ConvertError::package(part + " declares an internal document type subset");
    case Fault::Encoding:
      return ConvertError::package(part + " declares an encoding other than UTF-8");
    case Fault::TooDeep:
      return ConvertError::package(part + " nests elements deeper than " +
                                   std::to_string(kMaxElementDepth));
    default:
      break;
  }
  const std::string_view before = text.substr(0, reader.fault_offset());
  const auto line = std::count(before.begin(), before.end(), '\n') + 1;
  return ConvertError::package(part + " is not well-formed XML (line " + std::to_string(line) +
                               ": " + std::string(describe(fault)) + ")");
}

}  // namespace paravox
