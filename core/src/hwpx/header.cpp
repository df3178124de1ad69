#include "hwpx/header.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "document/text.h"
#include "hwpx/xml.h"

namespace paravox {
namespace {

constexpr std::string_view kHeaderName = "Contents/header.xml";
constexpr std::string_view kContentName = "Contents/content.hpf";

Bytes as_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Decimal digits only, as std::from_chars reads them whole into 32 bits; digit by digit, as
// the values are a digit or a few.
std::optional<std::uint32_t> parse_unsigned(std::optional<std::string_view> text) {
  if (!text || text->empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : *text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > 0xFFFFFFFF) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

// HWPX names the number kinds in the order of the binary format's codes.
NumberKind number_kind(std::optional<std::string_view> name) {
  static constexpr std::array<std::string_view, 17> kNames = {
      "DIGIT",
      "CIRCLED_DIGIT",
      "ROMAN_CAPITAL",
      "ROMAN_SMALL",
      "LATIN_CAPITAL",
      "LATIN_SMALL",
      "CIRCLED_LATIN_CAPITAL",
      "CIRCLED_LATIN_SMALL",
      "HANGUL_SYLLABLE",
      "CIRCLED_HANGUL_SYLLABLE",
      "HANGUL_JAMO",
      "CIRCLED_HANGUL_JAMO",
      "HANGUL_PHONETIC",
      "IDEOGRAPH",
      "CIRCLED_IDEOGRAPH",
      "DECAGON_CIRCLE",
      "DECAGON_CIRCLE_HANJA",
  };
  if (!name) return NumberKind::Digit;
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (*name == kNames[i]) return static_cast<NumberKind>(i);
  }
  if (*name == "SYMBOL") return NumberKind::Symbol;
  if (*name == "USER_CHAR") return NumberKind::UserChar;
  return NumberKind::Digit;
}

HeadKind head_kind(std::optional<std::string_view> name) {
  if (name == "OUTLINE") return HeadKind::Outline;
  if (name == "NUMBER") return HeadKind::Number;
  if (name == "BULLET") return HeadKind::Bullet;
  return HeadKind::None;
}

// Items of one kind with the id each element gave (nothing for none usable).
template <class T>
using Identified = std::vector<std::pair<std::optional<std::uint32_t>, T>>;

// Places each item at its id less `first`, in a list as long as the items; items without a
// usable id take the places left, in order.
template <class T>
std::vector<T> place_by_id(Identified<T>& items, std::uint32_t first) {
  std::vector<T> placed(items.size());
  std::vector<bool> taken(items.size(), false);
  for (auto& [id, item] : items) {
    if (!id || *id < first || *id - first >= placed.size() || taken[*id - first]) continue;
    placed[*id - first] = std::move(item);
    taken[*id - first] = true;
  }
  std::size_t next = 0;
  for (auto& [id, item] : items) {
    if (id) continue;
    while (next < taken.size() && taken[next]) ++next;
    if (next == taken.size()) break;
    placed[next] = std::move(item);
    taken[next] = true;
  }
  return placed;
}

// Whether the bytes at `at` are those of `text` (a short name): byte by byte, as names are
// shorter than a call to memcmp pays for.
bool same_bytes(const char* at, std::string_view text) {
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (at[k] != text[k]) return false;
  }
  return true;
}

// The value of the first attribute of `tag` whose local name is `local` (which holds no
// ':'), as XmlStartTag::attribute gives it, without finding each attribute's local name.
std::optional<std::string_view> attribute(const XmlStartTag& tag, std::string_view local) {
  for (const XmlAttribute& a : tag.attributes()) {
    if (a.name.size() < local.size() || a.name.back() != local.back()) continue;
    const std::size_t from = a.name.size() - local.size();
    if (same_bytes(a.name.data() + from, local) && (from == 0 || a.name[from - 1] == ':')) {
      return a.value;
    }
  }
  return std::nullopt;
}

class HeaderReading final : public XmlHandler {
 public:
  XmlVisit start_element(const XmlStartTag& tag) override {
    const std::string_view name = tag.local_name();
    ++depth_;
    if (name == "paraPr") {
      para_shapes_.emplace_back(parse_unsigned(attribute(tag, "id")), ParaShape{});
      heading_seen_ = false;
      return enter(Within::ParaShape);
    }
    if (name == "heading" && within_ == Within::ParaShape && !heading_seen_) {
      // Only a paragraph property's own heading; its switch cases hold margins only.
      heading_seen_ = true;
      ParaShape& shape = para_shapes_.back().second;
      shape.head = head_kind(attribute(tag, "type"));
      shape.head_id = static_cast<std::uint16_t>(
          std::min<std::uint32_t>(parse_unsigned(attribute(tag, "idRef")).value_or(0), 0xFFFF));
      const std::uint32_t level = parse_unsigned(attribute(tag, "level")).value_or(0);
      shape.level = static_cast<std::uint8_t>(std::min<std::uint32_t>(level, 9));
      return skip();
    }
    if (name == "numbering" && within_ == Within::Nothing) {
      numberings_.emplace_back(parse_unsigned(attribute(tag, "id")), Numbering{});
      return enter(Within::Numbering);
    }
    if (name == "paraHead" && within_ == Within::Numbering) {
      // Levels 1 to 10; the format is the element's text.
      const std::uint32_t level = parse_unsigned(attribute(tag, "level")).value_or(0);
      if (level < 1 || level > kNumberingLevels) return skip();
      NumberingLevel& definition = numberings_.back().second.levels[level - 1];
      definition.kind = number_kind(attribute(tag, "numFormat"));
      definition.start =
          std::max<std::uint32_t>(parse_unsigned(attribute(tag, "start")).value_or(1), 1);
      definition.format.clear();
      format_ = &definition.format;
      return XmlVisit::Children;
    }
    if (name == "bullet" && within_ == Within::Nothing) {
      Bullet bullet;
      bullet.character = attribute(tag, "char").value_or("");
      bullets_.emplace_back(parse_unsigned(attribute(tag, "id")), std::move(bullet));
      return skip();
    }
    if (name == "style" && within_ == Within::Nothing) {
      Style style;
      style.name = attribute(tag, "name").value_or("");
      style.english_name = attribute(tag, "engName").value_or("");
      style.character = attribute(tag, "type") == "CHAR";
      // A character style names no paragraph property (4294967295); the binary format
      // writes 0 there.
      const std::uint32_t shape = parse_unsigned(attribute(tag, "paraPrIDRef")).value_or(0);
      style.para_shape = style.character || shape > 0xFFFF ? 0 : static_cast<std::uint16_t>(shape);
      styles_.emplace_back(parse_unsigned(attribute(tag, "id")), std::move(style));
      return skip();
    }
    if (within_ == Within::Nothing && is_container(name)) return XmlVisit::Children;
    if (within_ == Within::ParaShape && (name == "switch" || name == "case" || name == "default")) {
      return XmlVisit::Children;
    }
    return skip();
  }

  void end_element() override {
    format_ = nullptr;
    if (depth_ == within_depth_) within_ = Within::Nothing;
    --depth_;
  }

  void character_data(std::string_view text) override {
    if (format_ != nullptr) format_->append(text);
  }

  // Whether the paragraph property being read has its heading and no child open: nothing
  // in the rest of it but another paragraph property can change the definitions.
  bool property_complete() const {
    return within_ == Within::ParaShape && heading_seen_ && depth_ == within_depth_ &&
           format_ == nullptr;
  }

  DocumentStyles finish() {
    DocumentStyles styles;
    styles.para_shapes = place_by_id(para_shapes_, 0);
    styles.numberings = place_by_id(numberings_, 1);
    styles.bullets = place_by_id(bullets_, 1);
    styles.styles = place_by_id(styles_, 0);
    assign_style_outline_levels(styles);
    return styles;
  }

 private:
  enum class Within : std::uint8_t { Nothing, ParaShape, Numbering };

  // The elements on the way to the definitions: the root, its reference list and the lists
  // of each kind (named ...List by some writers).
  static bool is_container(std::string_view name) {
    static constexpr std::array<std::string_view, 10> kContainers = {
        "head",       "refList",        "numberings", "numberingList", "bullets",
        "bulletList", "paraProperties", "paraPrList", "styles",        "styleList"};
    return std::find(kContainers.begin(), kContainers.end(), name) != kContainers.end();
  }

  XmlVisit enter(Within within) {
    within_ = within;
    within_depth_ = depth_;
    return XmlVisit::Children;
  }
  // A skipped element gets no end_element.
  XmlVisit skip() {
    --depth_;
    return XmlVisit::Skip;
  }

  std::size_t depth_ = 0;
  Within within_ = Within::Nothing;
  std::size_t within_depth_ = 0;
  bool heading_seen_ = false;
  std::string* format_ = nullptr;
  Identified<ParaShape> para_shapes_;
  Identified<Numbering> numberings_;
  Identified<Bullet> bullets_;
  Identified<Style> styles_;
};

// ISO 8601 date and time: YYYY-MM-DDTHH:MM:SS, an optional fraction, then Z, an offset
// (+HH:MM) or nothing (read as UTC).
std::optional<UnixMicroseconds> parse_iso_time(std::string_view text) {
  const auto digits = [&text](std::size_t at, std::size_t count) -> std::optional<int> {
    if (at > text.size() || text.size() - at < count) return std::nullopt;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  if (text.size() < 19 || text[4] != '-' || text[7] != '-' ||
      (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':') {
    return std::nullopt;
  }
  const auto year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
  const auto hour = digits(11, 2), minute = digits(14, 2), second = digits(17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  std::size_t at = 19;
  int microsecond = 0;
  if (at < text.size() && text[at] == '.') {
    ++at;
    int scale = 100000;
    const std::size_t first = at;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
      microsecond += (text[at] - '0') * scale;
      scale /= 10;
    }
    if (at == first) return std::nullopt;
  }
  std::int64_t offset_minutes = 0;
  const std::string_view zone = text.substr(at);
  if (zone == "Z" || zone.empty()) {
  } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
    const auto zone_hours = digits(at + 1, 2), zone_minutes = digits(at + 4, 2);
    if (!zone_hours || !zone_minutes || *zone_hours > 23 || *zone_minutes > 59) {
      return std::nullopt;
    }
    offset_minutes = (*zone_hours * 60 + *zone_minutes) * (zone[0] == '-' ? -1 : 1);
  } else {
    return std::nullopt;
  }
  const auto local = unix_microseconds(*year, *month, *day, *hour, *minute, *second, microsecond);
  if (!local) return std::nullopt;
  const UnixMicroseconds utc = *local - offset_minutes * 60 * 1000000;
  if (utc < kEarliestTime || utc > kLatestTime) return std::nullopt;
  return utc;
}

// "Tue Sep 27 18:37:40 KST 2011".
std::optional<UnixMicroseconds> parse_written_time(std::string_view text) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (text.size() != 28 || text[3] != ' ' || text[7] != ' ' || text[10] != ' ' || text[19] != ' ' ||
      text[23] != ' ') {
    return std::nullopt;
  }
  const auto month = std::find(kMonths.begin(), kMonths.end(), text.substr(4, 3));
  if (month == kMonths.end()) return std::nullopt;
  const std::string_view zone = text.substr(20, 3);
  const int offset_hours = zone == "KST" ? 9 : (zone == "UTC" || zone == "GMT") ? 0 : -1;
  if (offset_hours < 0) return std::nullopt;
  // Reuse the ISO reader on the same fields: "2011-09-27T18:37:40".
  std::string iso = std::string(text.substr(24, 4)) + "-00-" + std::string(text.substr(8, 2)) +
                    "T" + std::string(text.substr(11, 8)) + "Z";
  const auto month_number = static_cast<int>(month - kMonths.begin()) + 1;
  iso[5] = static_cast<char>('0' + month_number / 10);
  iso[6] = static_cast<char>('0' + month_number % 10);
  const auto utc_reading = parse_iso_time(iso);
  if (!utc_reading) return std::nullopt;
  const UnixMicroseconds utc = *utc_reading - std::int64_t{offset_hours} * 3600 * 1000000;
  if (utc < kEarliestTime) return std::nullopt;
  return utc;
}

class ContentMetadataReading final : public XmlHandler {
 public:
  XmlVisit start_element(const XmlStartTag& tag) override {
    const std::string_view name = tag.local_name();
    if (name == "package" || name == "metadata" || name == "manifest") {
      return XmlVisit::Children;
    }
    if (name == "title") return capture(Field::Title);
    if (name == "meta") {
      const std::string_view meta = tag.attribute("name").value_or("");
      if (meta == "creator") return capture(Field::Author);
      if (meta == "subject") return capture(Field::Subject);
      if (meta == "description") return capture(Field::Comments);
      if (meta == "keyword") return capture(Field::Keywords);
      if (meta == "lastsaveby") return capture(Field::LastSavedBy);
      if (meta == "CreatedDate") return capture(Field::Created);
      if (meta == "ModifiedDate") return capture(Field::Modified);
      return XmlVisit::Skip;
    }
    if (name == "item") add_item(tag);
    return XmlVisit::Skip;
  }

  void end_element() override {
    if (field_ == Field::None) return;
    const std::string value(trim_text(text_));
    switch (field_) {
      case Field::Title:
        content.metadata.title = value;
        break;
      case Field::Subject:
        content.metadata.subject = value;
        break;
      case Field::Author:
        content.metadata.author = value;
        break;
      case Field::Keywords:
        content.metadata.keywords = value;
        break;
      case Field::Comments:
        content.metadata.comments = value;
        break;
      case Field::LastSavedBy:
        content.metadata.last_saved_by = value;
        break;
      case Field::Created:
        content.metadata.created = parse_time(value);
        break;
      case Field::Modified:
        content.metadata.modified = parse_time(value);
        break;
      case Field::None:
        break;
    }
    field_ = Field::None;
  }

  void character_data(std::string_view text) override {
    if (field_ != Field::None) text_.append(text);
  }

  PackageContent content;

 private:
  enum class Field : std::uint8_t {
    None,
    Title,
    Subject,
    Author,
    Keywords,
    Comments,
    LastSavedBy,
    Created,
    Modified
  };

  // A value's element holds only its text: its children are skipped, so its end_element is
  // the next one.
  XmlVisit capture(Field field) {
    field_ = field;
    text_.clear();
    return XmlVisit::Children;
  }

  static std::optional<UnixMicroseconds> parse_time(std::string_view text) {
    if (auto iso = parse_iso_time(text)) return iso;
    return parse_written_time(text);
  }

  void add_item(const XmlStartTag& tag) {
    std::string href(tag.attribute("href").value_or(""));
    std::replace(href.begin(), href.end(), '\\', '/');
    while (href.starts_with("/")) href.erase(0, 1);
    if (!href.starts_with("BinData/")) return;
    BinaryDataItem item;
    item.name = tag.attribute("id").value_or("");
    item.kind = tag.attribute("isEmbeded") == "0" ? BinaryDataKind::Link : BinaryDataKind::Embedded;
    item.media_type = tag.attribute("media-type").value_or("");
    const std::size_t dot = href.rfind('.');
    if (dot != std::string::npos && href.find('/', dot) == std::string::npos) {
      item.extension = href.substr(dot + 1);
    }
    item.path = std::move(href);
    content.binary_data.push_back(std::move(item));
  }

  Field field_ = Field::None;
  std::string text_;
};

// Reading only what the definitions need. header.xml is mostly font, border and character
// lists before the definition lists, and margins, spacing and break settings inside each
// paragraph property. The walk below hands HeaderReading the events the XML reader would for
// the elements the reading visits, and passes over the rest by searching for the end tag
// instead of reading every tag: an element the reading skips, and the rest of a paragraph
// property once its heading is read (nothing in it but another paragraph property can change
// the definitions, and the search for the end tag looks out for one).
//
// The search is exact because, outside comments, CDATA sections and processing
// instructions, every '<' opens a tag: values and text cannot hold one. So the walk gives up,
// and the part is read whole, at any comment, CDATA section, declaration or processing
// instruction it meets before the root's end; at references or line ends in the values and
// text it hands over (the reader resolves those) and at anything there the reader would
// refuse (controls, bytes that are not UTF-8); at a skipped element holding one of its own
// name; and at anything it does not expect where it reads tags. The XML declaration is judged
// by the reader itself. The walk does not check what it passes over: a part the reader would
// refuse inside those stretches gives here what its definitions say, where whole reading
// would stop at the fault.

// By one test of a bit: the bytes of a tag are looked at one by one here and there.
bool is_space_byte(char c) {
  constexpr std::uint64_t kSpaces = std::uint64_t{1} << ' ' | std::uint64_t{1} << '\n' |
                                    std::uint64_t{1} << '\t' | std::uint64_t{1} << '\r';
  const auto byte = static_cast<unsigned char>(c);
  return byte <= ' ' && (kSpaces >> byte & 1) != 0;
}

// Whether `c` ends an element name in a tag.
bool ends_name(char c) {
  return is_space_byte(c) || c == '>' || c == '/';
}

// Whether `c` may be part of a name as far as finding names goes: ASCII that is not white
// space, a control or markup (bytes beyond ASCII are looked at one character at a time).
bool in_name(char c) {
  return static_cast<unsigned char>(c) > ' ' && static_cast<unsigned char>(c) < 0x80 && c != '<' &&
         c != '>' && c != '/' && c != '=' && c != '"' && c != '\'';
}

// The first `c` at or after `from` (at most the end), or npos. Inline: the tags of a part
// lie a few dozen bytes apart, nearer than a call to memchr pays for.
std::size_t find_byte(std::string_view xml, std::size_t from, char c) {
  std::size_t i = from;
#if defined(__SSE2__)
  const __m128i target = _mm_set1_epi8(c);
  while (xml.size() - i >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(xml.data() + i));
    if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(v, target)); mask != 0) {
      return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
    i += 16;
  }
#endif
  for (; i < xml.size(); ++i) {
    if (xml[i] == c) return i;
  }
  return xml.npos;
}

// The length of the UTF-8 sequence at text[i] (a byte beyond ASCII) when it encodes a
// character XML allows (no surrogates, U+FFFE or U+FFFF), else 0.
std::size_t xml_sequence(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const std::size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (lead < 0xC2 || lead > 0xF4 || text.size() - i < n) return 0;
  char32_t c = lead & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    c = c << 6 | (next & 0x3F);
  }
  if ((n == 3 && c < 0x800) || (n == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
      (c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF) {
    return 0;
  }
  return n;
}

// Whether the bytes of `text` beyond ASCII are UTF-8 of characters XML allows, as the reader
// requires of a part; ASCII is passed over sixteen bytes at a time.
bool is_xml_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
#if defined(__SSE2__)
    if (text.size() - i >= 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
      const auto high = static_cast<unsigned>(_mm_movemask_epi8(v));
      if (high == 0) {
        i += 16;
        continue;
      }
      i += static_cast<std::size_t>(__builtin_ctz(high));
    }
#endif
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = xml_sequence(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// Whether character data holds a control XML does not allow (all but tab and line feed; a
// carriage return is left to the reader, which joins it to a following line feed).
bool holds_control(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n';
  });
}

class DefinitionWalk {
 public:
  DefinitionWalk(std::string_view xml, HeaderReading& reading) : xml_(xml), reading_(reading) {}

  // Whether the reading got every event whole reading would have given it.
  bool run() {
    std::size_t root = xml_.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    if (xml_.substr(root).starts_with("<?xml")) {
      const std::size_t declared = xml_.find("?>", root);
      if (declared == xml_.npos) return false;
      root = declared + 2;
      // The reader judges the declaration (version, encoding) before the root; the one the
      // word processor writes needs no judging.
      if (xml_.substr(0, root) != R"(<?xml version="1.0" encoding="UTF-8" standalone="yes" ?>)") {
        std::string prolog(xml_.substr(0, root));
        prolog.append("<r/>");
        NoEvents none;
        if (!read_xml(as_bytes(prolog), kHeaderName, none)) return false;
      }
    }
    while (root < xml_.size() && is_space_byte(xml_[root])) ++root;
    if (xml_.size() - root < 2 || xml_[root] != '<' || !starts_tag(root) || xml_[root + 1] == '/') {
      return false;
    }
    return walk(root);
  }

 private:
  struct NoEvents final : XmlHandler {
    XmlVisit start_element(const XmlStartTag&) override { return XmlVisit::Skip; }
    void end_element() override {}
    void character_data(std::string_view) override {}
  };

  // The elements from the root down, read at `at`, until the root's end.
  bool walk(std::size_t at) {
    std::vector<std::string_view> open;  // names of the elements whose children are visited
    std::size_t i = at;
    for (;;) {
      const std::size_t lt = find_byte(xml_, i, '<');
      if (lt == xml_.npos || xml_.size() - lt < 3) return false;
      if (lt > i) {
        const std::string_view text = xml_.substr(i, lt - i);
        if (text.find_first_of("&\r") != text.npos || text.find("]]>") != text.npos ||
            holds_control(text) || !is_xml_utf8(text)) {
          return false;
        }
        reading_.character_data(text);
      }
      if (!starts_tag(lt)) return false;
      if (xml_[lt + 1] == '/') {
        if (open.empty()) return false;
        const std::string_view name = open.back();
        if (xml_.substr(lt + 2, name.size()) != name) return false;
        i = end_of_end_tag(lt + 2 + name.size());
        if (i == xml_.npos) return false;
        open.pop_back();
        reading_.end_element();
        if (open.empty()) return true;
        continue;
      }
      bool empty = false;
      i = start_tag(lt, empty);
      if (i == xml_.npos) return false;
      if (reading_.start_element(XmlStartTag(name_, attributes_)) == XmlVisit::Children) {
        if (empty) {
          reading_.end_element();
        } else if (open.size() == kMaxElementDepth) {
          return false;
        } else {
          open.push_back(name_);
          continue;
        }
      } else if (!empty) {
        i = skip_to_end(i, name_, false);
        if (i == xml_.npos) return false;
      }
      if (open.empty()) return true;
      if (reading_.property_complete()) {
        i = skip_to_end(i, open.back(), true);
        if (i == xml_.npos) return false;
        open.pop_back();
        reading_.end_element();
        if (open.empty()) return true;
      }
    }
  }

  // After an end tag's name at `i`: the position after its '>', or npos.
  std::size_t end_of_end_tag(std::size_t i) const {
    while (i < xml_.size() && is_space_byte(xml_[i])) ++i;
    return i < xml_.size() && xml_[i] == '>' ? i + 1 : xml_.npos;
  }

  // Reads the start tag at `lt` into name_ and attributes_: the position after its '>', or
  // npos where the tag is not of the plain form handed over as written.
  std::size_t start_tag(std::size_t lt, bool& empty) {
    const auto name_scan = [this](std::size_t at) { return end_of_name(at); };
    std::size_t i = checked(lt + 1, name_scan);
    if (i == lt + 1 || i >= xml_.size() || !ends_name(xml_[i])) return xml_.npos;
    name_ = xml_.substr(lt + 1, i - lt - 1);
    attributes_.clear();
    for (;;) {
      const std::size_t gap = i;
      // Usually one space before an attribute.
      if (xml_.size() - i >= 2 && xml_[i] == ' ' && in_name(xml_[i + 1])) {
        ++i;
      } else {
        while (i < xml_.size() && is_space_byte(xml_[i])) ++i;
      }
      if (i == xml_.size()) return xml_.npos;
      if (xml_[i] == '>') return i + 1;
      if (xml_[i] == '/') {
        empty = true;
        return xml_.size() - i > 1 && xml_[i + 1] == '>' ? i + 2 : xml_.npos;
      }
      if (i == gap) return xml_.npos;  // attributes are separated by white space
      const std::size_t name_begin = i;
      i = checked(i, name_scan);
      if (i == xml_.npos) return xml_.npos;
      const std::size_t name_end = i;
      if (name_end == name_begin) return xml_.npos;
      // '=' and the quote usually follow the name directly.
      const auto is_quote = [](char c) { return c == '"' || c == '\''; };
      std::size_t quote_at = i + 1;
      if (xml_.size() - i < 2 || xml_[i] != '=' || !is_quote(xml_[quote_at])) {
        while (i < xml_.size() && is_space_byte(xml_[i])) ++i;
        if (i == xml_.size() || xml_[i] != '=') return xml_.npos;
        ++i;
        while (i < xml_.size() && is_space_byte(xml_[i])) ++i;
        if (i == xml_.size() || !is_quote(xml_[i])) return xml_.npos;
        quote_at = i;
      }
      const char quote = xml_[quote_at];
      i = quote_at + 1;
      const std::size_t value_begin = i;
      i = checked(i, [this, quote](std::size_t at) { return end_of_value(at, quote); });
      if (i >= xml_.size() || xml_[i] != quote) return xml_.npos;
      attributes_.push_back({xml_.substr(name_begin, name_end - name_begin),
                             xml_.substr(value_begin, i - value_begin)});
      ++i;
    }
  }

  // The end of the name or value at `i`, found by `scan` (end_of_name or end_of_value), its
  // bytes beyond ASCII checked as the reader checks them: npos where they are not UTF-8 of
  // characters XML allows.
  template <class Scan>
  std::size_t checked(std::size_t i, Scan scan) const {
    for (;;) {
      i = scan(i);
      if (i == xml_.size() || static_cast<unsigned char>(xml_[i]) < 0x80) return i;
      const std::size_t n = xml_sequence(xml_, i);
      if (n == 0) return xml_.npos;
      i += n;
    }
  }

  // The first byte at or after `i` that cannot be part of a name, or that is not ASCII where
  // `Ascii` is set (or the end).
  template <bool Ascii = true>
  std::size_t end_of_name(std::size_t i) const {
#if defined(__SSE2__)
    while (xml_.size() - i >= 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(xml_.data() + i));
      const auto equal = [&v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
      const __m128i low = _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(' ')), _mm_set1_epi8(' '));
      const auto stops = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
          _mm_or_si128(_mm_or_si128(low, equal('=')), _mm_or_si128(equal('>'), equal('/'))),
          _mm_or_si128(_mm_or_si128(equal('<'), equal('"')),
                       _mm_or_si128(equal('\''), Ascii ? v : _mm_setzero_si128())))));
      if (stops != 0) return i + static_cast<std::size_t>(__builtin_ctz(stops));
      i += 16;
    }
#endif
    while (i < xml_.size() &&
           (in_name(xml_[i]) || (!Ascii && static_cast<unsigned char>(xml_[i]) >= 0x80))) {
      ++i;
    }
    return i;
  }

  // The first `quote`, '&', '<', control or byte beyond ASCII at or after `i` (or the end).
  std::size_t end_of_value(std::size_t i, char quote) const {
#if defined(__SSE2__)
    while (xml_.size() - i >= 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(xml_.data() + i));
      const auto equal = [&v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
      const __m128i control =
          _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F));
      const auto stops = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(control, equal(quote)),
                                         _mm_or_si128(_mm_or_si128(equal('&'), equal('<')), v))));
      if (stops != 0) return i + static_cast<std::size_t>(__builtin_ctz(stops));
      i += 16;
    }
#endif
    for (; i < xml_.size(); ++i) {
      const char c = xml_[i];
      const auto byte = static_cast<unsigned char>(c);
      if (c == quote || c == '&' || c == '<' || byte < 0x20 || byte >= 0x80) break;
    }
    return i;
  }

  // Whether the '<' at `lt` opens a tag, not a comment, CDATA section, declaration or
  // processing instruction.
  bool starts_tag(std::size_t lt) const {
    return xml_[lt + 1] != '!' && xml_[lt + 1] != '?';
  }

  // The position after the end tag of the element named `name` whose contents begin at
  // `from`, passing over the tags between by their '<'; npos at other markup, at an element
  // of the same name inside (its end tag would be taken for this one's), or, where `property`
  // is set, at a start tag of another paragraph property.
  std::size_t skip_to_end(std::size_t from, std::string_view name, bool property) const {
    std::size_t i = from;
#if defined(__SSE2__)
    // The '<' of 64 bytes at a time, each ruled out where it can be by the byte after it, the
    // byte where this name would end, and in a paragraph property by where its own name may
    // end; far enough from the part's end for all of those to lie inside it.
    const __m128i open = _mm_set1_epi8('<');
    const auto opens = [this, &open](std::size_t at) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(xml_.data() + at));
      return static_cast<std::uint64_t>(
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, open))));
    };
    const std::size_t n = name.size();
    const char last = name.back();
    while (xml_.size() - i >= 64 + 16 + n + 2) {
      for (std::uint64_t mask =
               opens(i) | opens(i + 16) << 16 | opens(i + 32) << 32 | opens(i + 48) << 48;
           mask != 0; mask &= mask - 1) {
        const std::size_t lt = i + static_cast<std::size_t>(__builtin_ctzll(mask));
        const char after = xml_[lt + 1];
        const bool stops = after == '/' ? xml_[lt + 1 + n] == last
                                        : after == '!' || after == '?' || xml_[lt + n] == last ||
                                              (property && may_name_property(lt + 1));
        if (!stops) continue;
        if (const Tag tag = look_at(lt, name, property); tag != Tag::Other) {
          return tag == Tag::End ? end_of_end_tag(lt + 2 + n) : xml_.npos;
        }
      }
      i += 64;
    }
#endif
    for (i = find_byte(xml_, i, '<'); i != xml_.npos; i = find_byte(xml_, i + 1, '<')) {
      if (const Tag tag = look_at(i, name, property); tag != Tag::Other) {
        return tag == Tag::End ? end_of_end_tag(i + 2 + name.size()) : xml_.npos;
      }
    }
    return xml_.npos;
  }

  enum class Tag : std::uint8_t { Other, End, Doubt };

  // What the '<' at `lt` opens, for skip_to_end: the end tag named `name`, a tag or markup
  // where the search must give up, or something else.
  Tag look_at(std::size_t lt, std::string_view name, bool property) const {
    if (xml_.size() - lt < name.size() + 3) return Tag::Doubt;
    if (xml_[lt + 1] == '/') {
      const std::size_t end = lt + 2 + name.size();
      return xml_[end - 1] == name.back() && ends_name(xml_[end]) &&
                     xml_.substr(lt + 2, name.size()) == name
                 ? Tag::End
                 : Tag::Other;
    }
    const std::size_t end = lt + 1 + name.size();
    const bool same_name = xml_[end - 1] == name.back() && ends_name(xml_[end]) &&
                           xml_.substr(lt + 1, name.size()) == name;
    return !starts_tag(lt) || same_name || (property && names_property(lt + 1)) ? Tag::Doubt
                                                                                : Tag::Other;
  }

#if defined(__SSE2__)
  // Whether the start tag whose name begins at `i` (with 16 bytes after it) may be a paragraph
  // property's: its name ends in the 16 bytes with "Pr", or goes past them.
  bool may_name_property(std::size_t i) const {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(xml_.data() + i));
    const auto equal = [&v](char c) {
      return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
    };
    const __m128i low = _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(' ')), _mm_set1_epi8(' '));
    const unsigned ends = static_cast<unsigned>(_mm_movemask_epi8(low)) | equal('>') | equal('/');
    if (ends == 0) return true;
    const auto end = static_cast<unsigned>(__builtin_ctz(ends));
    return end >= 6 && (equal('P') & equal('r') >> 1 & ((1u << (end - 1)) - 1)) != 0;
  }
#endif

  // Whether the start tag whose name begins at `i` is a paragraph property's.
  bool names_property(std::size_t i) const {
    constexpr std::string_view kLocal = "paraPr";
    const std::size_t end = end_of_name<false>(i);
    if (end - i < kLocal.size() || xml_.substr(end - kLocal.size(), kLocal.size()) != kLocal) {
      return false;
    }
    return end - i == kLocal.size() || xml_[end - kLocal.size() - 1] == ':';
  }

  std::string_view xml_;
  HeaderReading& reading_;
  std::string_view name_;
  std::vector<XmlAttribute> attributes_;
};

}  // namespace

DocumentStyles read_header_xml(Bytes xml) {
  const std::string_view text(reinterpret_cast<const char*>(xml.data()), xml.size());
  {
    HeaderReading reading;
    if (DefinitionWalk(text, reading).run()) return reading.finish();
  }
  HeaderReading reading;
  (void)read_xml(xml, kHeaderName, reading);
  return reading.finish();
}

PackageContent read_package_content(Bytes hpf) {
  ContentMetadataReading reading;
  (void)read_xml(hpf, kContentName, reading);
  return std::move(reading.content);
}

DocumentStyles read_header_definitions(const Package& package) {
  Result<Part> header = package.read(kHeaderName);
  return header ? read_header_xml(header->bytes) : DocumentStyles{};
}

DocumentStyles read_document_styles(const Package& package) {
  DocumentStyles styles = read_header_definitions(package);
  if (Result<Part> content = package.read(kContentName)) {
    styles.binary_data = read_package_content(content->bytes).binary_data;
  }
  return styles;
}

Metadata read_metadata(const Package& package) {
  Result<Part> content = package.read(kContentName);
  if (!content) return {};
  return read_package_content(content->bytes).metadata;
}

}  // namespace paravox
