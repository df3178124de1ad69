#include "hwpx/header.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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

std::optional<std::uint32_t> parse_unsigned(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  std::uint32_t value = 0;
  const char* end = text->data() + text->size();
  const auto [stop, error] = std::from_chars(text->data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
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

class HeaderReading final : public XmlHandler {
 public:
  XmlVisit start_element(const XmlStartTag& tag) override {
    const std::string_view name = tag.local_name();
    ++depth_;
    if (name == "paraPr") {
      para_shapes_.emplace_back(parse_unsigned(tag.attribute("id")), ParaShape{});
      heading_seen_ = false;
      return enter(Within::ParaShape);
    }
    if (name == "heading" && within_ == Within::ParaShape && !heading_seen_) {
      // Only a paragraph property's own heading; its switch cases hold margins only.
      heading_seen_ = true;
      ParaShape& shape = para_shapes_.back().second;
      shape.head = head_kind(tag.attribute("type"));
      shape.head_id = static_cast<std::uint16_t>(
          std::min<std::uint32_t>(parse_unsigned(tag.attribute("idRef")).value_or(0), 0xFFFF));
      const std::uint32_t level = parse_unsigned(tag.attribute("level")).value_or(0);
      shape.level = static_cast<std::uint8_t>(std::min<std::uint32_t>(level, 9));
      return skip();
    }
    if (name == "numbering" && within_ == Within::Nothing) {
      numberings_.emplace_back(parse_unsigned(tag.attribute("id")), Numbering{});
      return enter(Within::Numbering);
    }
    if (name == "paraHead" && within_ == Within::Numbering) {
      // Levels 1 to 10; the format is the element's text.
      const std::uint32_t level = parse_unsigned(tag.attribute("level")).value_or(0);
      if (level < 1 || level > kNumberingLevels) return skip();
      NumberingLevel& definition = numberings_.back().second.levels[level - 1];
      definition.kind = number_kind(tag.attribute("numFormat"));
      definition.start =
          std::max<std::uint32_t>(parse_unsigned(tag.attribute("start")).value_or(1), 1);
      definition.format.clear();
      format_ = &definition.format;
      return XmlVisit::Children;
    }
    if (name == "bullet" && within_ == Within::Nothing) {
      Bullet bullet;
      bullet.character = tag.attribute("char").value_or("");
      bullets_.emplace_back(parse_unsigned(tag.attribute("id")), std::move(bullet));
      return skip();
    }
    if (name == "style" && within_ == Within::Nothing) {
      Style style;
      style.name = tag.attribute("name").value_or("");
      style.english_name = tag.attribute("engName").value_or("");
      style.character = tag.attribute("type") == "CHAR";
      // A character style names no paragraph property (4294967295); the binary format
      // writes 0 there.
      const std::uint32_t shape = parse_unsigned(tag.attribute("paraPrIDRef")).value_or(0);
      style.para_shape = style.character || shape > 0xFFFF ? 0 : static_cast<std::uint16_t>(shape);
      styles_.emplace_back(parse_unsigned(tag.attribute("id")), std::move(style));
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

// Reading only what the definitions need. In the word processor's header.xml the definition
// lists are siblings in hh:refList after the font, border and character lists (about half of
// the part), and each paragraph property holds, besides its heading, margins, spacing and
// break settings that make up most of the rest. The tags read are copied, as written, into a
// document of their own: the lists' stretch of the part, with each paragraph property cut to
// its start tag and its first heading. Tags are found by their '<', the first '>' after the
// name taken for their end. A part with comments, CDATA or processing instructions among the
// lists is read whole, and so is one whose cut is not well-formed (a '>' inside an attribute
// value); the reader behind read_xml checks the cut as it checks any part.

// A tag as found by its '<': where it opens and closes, whether it is an end tag, its name
// as written and after its prefix. Comments and declarations count as tags named "!..." and
// processing instructions as "?...".
struct Tag {
  std::size_t open;
  std::size_t close;  // its '>'
  bool closing;
  std::string_view name;
  std::string_view local;

  bool self_closing(std::string_view xml) const { return !closing && xml[close - 1] == '/'; }
  std::string_view text(std::string_view xml) const { return xml.substr(open, close + 1 - open); }
};

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

// The first tag opening at or after `from`, or nothing.
std::optional<Tag> next_tag(std::string_view xml, std::size_t from) {
  const std::size_t open = find_byte(xml, from, '<');
  if (open == xml.npos || xml.size() - open < 3) return std::nullopt;
  const bool closing = xml[open + 1] == '/';
  const std::size_t name_begin = open + (closing ? 2 : 1);
  std::size_t local_begin = name_begin;
  std::size_t name_end = name_begin;
#if defined(__SSE2__)
  // Sixteen bytes at a time: a part holds a tag every few dozen bytes, most of it names.
  while (xml.size() - name_end >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(xml.data() + name_end));
    const auto equal = [&v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    const auto ends = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_or_si128(_mm_or_si128(equal(' '), equal('>')), equal('/')),
                     _mm_or_si128(_mm_or_si128(equal('\n'), equal('\t')), equal('\r')))));
    const unsigned within = ends != 0 ? (ends & -ends) - 1 : 0xFFFFu;  // bytes before the end
    if (const unsigned colons = static_cast<unsigned>(_mm_movemask_epi8(equal(':'))) & within) {
      local_begin = name_end + 32 - static_cast<std::size_t>(__builtin_clz(colons));
    }
    if (ends != 0) {
      name_end += static_cast<std::size_t>(__builtin_ctz(ends));
      break;
    }
    name_end += 16;
  }
  if (xml.size() - name_end < 16)
#endif
    for (; name_end < xml.size(); ++name_end) {
      const char c = xml[name_end];
      if (c == ' ' || c == '>' || c == '/' || c == '\n' || c == '\t' || c == '\r') break;
      if (c == ':') local_begin = name_end + 1;
    }
  const std::size_t close = find_byte(xml, name_end, '>');
  if (close == xml.npos) return std::nullopt;
  return Tag{open, close, closing, xml.substr(name_begin, name_end - name_begin),
             xml.substr(local_begin, name_end - local_begin)};
}

bool is_definition_list(std::string_view local) {
  static constexpr std::array<std::string_view, 8> kLists = {
      "numberings", "numberingList", "bullets",        "bulletList",
      "styles",     "styleList",     "paraProperties", "paraPrList"};
  return std::find(kLists.begin(), kLists.end(), local) != kLists.end();
}

// Appends the paragraph properties among the tags of xml[from, to) cut to their start tags
// and their first headings.
void append_cut_paragraph_properties(std::string& out, std::string_view xml, std::size_t from,
                                     std::size_t to) {
  std::optional<Tag> open_property;  // a paragraph property whose heading is still to come
  for (auto tag = next_tag(xml, from); tag && tag->open < to; tag = next_tag(xml, tag->close + 1)) {
    if (tag->local == "paraPr") {
      if (open_property) out.append("</").append(open_property->name).append(">");
      open_property.reset();
      if (tag->closing) continue;
      out += tag->text(xml);
      if (!tag->self_closing(xml)) open_property = tag;
    } else if (tag->local == "heading" && !tag->closing && open_property) {
      const std::string_view text = tag->text(xml);
      if (tag->self_closing(xml)) {
        out += text;
      } else {
        out.append(text.substr(0, text.size() - 1)).append("/>");
      }
      out.append("</").append(open_property->name).append(">");
      open_property.reset();
    }
  }
  if (open_property) out.append("</").append(open_property->name).append(">");
}

// The document to read the definitions from, or nothing when the part is to be read whole.
std::optional<std::string> definition_lists(std::string_view xml) {
  std::size_t begin = xml.npos;
  std::size_t end = 0;
  std::size_t first_markup = xml.npos;   // the first comment, CDATA or instruction after begin
  std::optional<Tag> properties;         // the paragraph-property list's start tag
  std::optional<Tag> properties_closed;  // and its end tag
  for (auto tag = next_tag(xml, 0); tag; tag = next_tag(xml, tag->close + 1)) {
    if (begin != xml.npos && first_markup == xml.npos && !tag->closing &&
        (tag->name.starts_with('!') || tag->name.starts_with('?'))) {
      first_markup = tag->open;
    }
    if (!is_definition_list(tag->local)) continue;
    begin = std::min(begin, tag->open);
    if (tag->closing || tag->self_closing(xml)) end = std::max(end, tag->close + 1);
    if (!tag->local.starts_with("paraPr")) continue;
    if (!tag->closing && !tag->self_closing(xml) && !properties) properties = tag;
    if (tag->closing && properties && !properties_closed) properties_closed = tag;
  }
  if (begin == xml.npos || end <= begin || first_markup < end) return std::nullopt;
  std::string out = "<refList>";
  if (properties && properties_closed) {
    out.append(xml.substr(begin, properties->close + 1 - begin));
    append_cut_paragraph_properties(out, xml, properties->close + 1, properties_closed->open);
    out.append(xml.substr(properties_closed->open, end - properties_closed->open));
  } else {
    out.append(xml.substr(begin, end - begin));
  }
  out.append("</refList>");
  return out;
}

}  // namespace

DocumentStyles read_header_xml(Bytes xml) {
  const std::string_view text(reinterpret_cast<const char*>(xml.data()), xml.size());
  if (const std::optional<std::string> lists = definition_lists(text)) {
    HeaderReading reading;
    if (read_xml(as_bytes(*lists), kHeaderName, reading)) return reading.finish();
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

std::vector<BinaryDataItem> read_binary_items(const Package& package) {
  Result<Part> content = package.read(kContentName);
  if (!content) return {};
  return read_package_content(content->bytes).binary_data;
}

Metadata read_metadata(const Package& package) {
  Result<Part> content = package.read(kContentName);
  if (!content) return {};
  return read_package_content(content->bytes).metadata;
}

}  // namespace paravox
