#include "hwpx/section_walk.h"

#include <array>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "document/block.h"
#include "document/document_builder.h"
#include "document/fields.h"
#include "document/markdown.h"
#include "document/model.h"
#include "document/numbering.h"
#include "document/options.h"
#include "document/text.h"
#include "hwpx/xml.h"

namespace paravox {
namespace {

// The value a click-here field's "Prop" parameter has in every field the word processor
// writes; the binary format keeps it as the header byte that must read 9.
constexpr std::string_view kClickHereProp = "9";

// The elements the walk tells apart, by local name; every other name is Other.
enum class Name : std::uint8_t {
  Other,
  Sec,
  P,
  Run,
  T,
  Ctrl,
  // Inside runs and text, marks of a position or a character: tabs, line breaks, special
  // spaces, highlighting and change-tracking marks. They are characters of the binary
  // paragraph text (which leaves them out), not controls.
  Tab,
  LineBreak,
  Hyphen,
  NbSpace,
  FwSpace,
  TitleMark,
  MarkpenBegin,
  MarkpenEnd,
  InsertBegin,
  InsertEnd,
  DeleteBegin,
  DeleteEnd,
  FieldEnd,  // the last inline mark
  FieldBegin,
  Parameters,
  StringParam,
  IntegerParam,
  Tbl,
  Tr,
  Tc,
  Caption,
  CellAddr,
  CellSpan,
  SubList,
  Equation,
  Script,
  // Drawing objects: the binary format's 'gso ' controls.
  Pic,
  Rect,
  Ellipse,
  Arc,
  Polygon,
  Curve,
  Line,
  ConnectLine,
  Container,
  Ole,
  Textart,
  Video,
  Chart,  // the last drawing object
  Img,
  LinesegArray,
  SecPr,
  ShapeComment,
  FootNote,
  EndNote,
  Header,
  Footer,
  HiddenComment,
};

struct KnownName {
  std::string_view text;
  Name name;
};

constexpr std::array<KnownName, 53> kKnownNames = {{
    {"sec", Name::Sec},
    {"p", Name::P},
    {"run", Name::Run},
    {"t", Name::T},
    {"ctrl", Name::Ctrl},
    {"tab", Name::Tab},
    {"lineBreak", Name::LineBreak},
    {"hyphen", Name::Hyphen},
    {"nbSpace", Name::NbSpace},
    {"fwSpace", Name::FwSpace},
    {"titleMark", Name::TitleMark},
    {"markpenBegin", Name::MarkpenBegin},
    {"markpenEnd", Name::MarkpenEnd},
    {"insertBegin", Name::InsertBegin},
    {"insertEnd", Name::InsertEnd},
    {"deleteBegin", Name::DeleteBegin},
    {"deleteEnd", Name::DeleteEnd},
    {"fieldEnd", Name::FieldEnd},
    {"fieldBegin", Name::FieldBegin},
    {"parameters", Name::Parameters},
    {"stringParam", Name::StringParam},
    {"integerParam", Name::IntegerParam},
    {"tbl", Name::Tbl},
    {"tr", Name::Tr},
    {"tc", Name::Tc},
    {"caption", Name::Caption},
    {"cellAddr", Name::CellAddr},
    {"cellSpan", Name::CellSpan},
    {"subList", Name::SubList},
    {"equation", Name::Equation},
    {"script", Name::Script},
    {"pic", Name::Pic},
    {"rect", Name::Rect},
    {"ellipse", Name::Ellipse},
    {"arc", Name::Arc},
    {"polygon", Name::Polygon},
    {"curve", Name::Curve},
    {"line", Name::Line},
    {"connectLine", Name::ConnectLine},
    {"container", Name::Container},
    {"ole", Name::Ole},
    {"textart", Name::Textart},
    {"video", Name::Video},
    {"chart", Name::Chart},
    {"img", Name::Img},
    {"linesegarray", Name::LinesegArray},
    {"secPr", Name::SecPr},
    {"shapeComment", Name::ShapeComment},
    {"footNote", Name::FootNote},
    {"endNote", Name::EndNote},
    {"header", Name::Header},
    {"footer", Name::Footer},
    {"hiddenComment", Name::HiddenComment},
}};

// A slot of 256 for a non-empty name, from its length and its first, middle and last bytes:
// the known names each get a slot of their own (checked below), so one comparison tells a
// name.
constexpr std::size_t name_slot(std::string_view name) noexcept {
  const auto byte = [name](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(name[at]));
  };
  const std::uint32_t key = byte(0) | byte(name.size() - 1) << 8 | byte(name.size() / 2) << 16 |
                            static_cast<std::uint32_t>(name.size()) << 24;
  return static_cast<std::uint32_t>(key * 0x9531985Du) >> 24;
}

// For each slot, 1 + the index in kKnownNames of the name it holds, or 0.
constexpr std::array<std::uint8_t, 256> kNameSlots = [] {
  std::array<std::uint8_t, 256> slots{};
  for (std::size_t i = 0; i < kKnownNames.size(); ++i) {
    slots[name_slot(kKnownNames[i].text)] = static_cast<std::uint8_t>(i + 1);
  }
  return slots;
}();

static_assert(
    [] {
      std::size_t used = 0;
      for (const std::uint8_t slot : kNameSlots) used += slot != 0;
      return used == kKnownNames.size();
    }(),
    "two known names share a slot: choose another multiplier in name_slot");

template <typename Word>
Word load_word(const char* at) noexcept {
  Word word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// Whether `a` and `b`, of the same size, hold the same bytes. Up to 16 bytes, two
// overlapping words (or, below four bytes, the first, middle and last byte) cover them: names
// are short, and a call to memcmp costs more than the comparison.
[[gnu::always_inline]] inline bool same_bytes(std::string_view a, std::string_view b) noexcept {
  const std::size_t size = a.size();
  if (size > 16) return a == b;
  if (size >= 8) {
    return load_word<std::uint64_t>(a.data()) == load_word<std::uint64_t>(b.data()) &&
           load_word<std::uint64_t>(a.data() + size - 8) ==
               load_word<std::uint64_t>(b.data() + size - 8);
  }
  if (size >= 4) {
    return load_word<std::uint32_t>(a.data()) == load_word<std::uint32_t>(b.data()) &&
           load_word<std::uint32_t>(a.data() + size - 4) ==
               load_word<std::uint32_t>(b.data() + size - 4);
  }
  return size == 0 || (a[0] == b[0] && a[size / 2] == b[size / 2] && a[size - 1] == b[size - 1]);
}

// Whether `text` holds a ':'. Names are short: from 8 to 16 bytes, two overlapping words are
// tested a word at a time, each byte that equals ':' becoming a zero byte.
[[gnu::always_inline]] inline bool holds_colon(std::string_view text) noexcept {
  const std::size_t size = text.size();
  if (size >= 8 && size <= 16) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighs = 0x8080808080808080u;
    const auto has_colon = [](std::uint64_t word) {
      const std::uint64_t zeroed = word ^ (kOnes * ':');
      return ((zeroed - kOnes) & ~zeroed & kHighs) != 0;
    };
    return has_colon(load_word<std::uint64_t>(text.data())) ||
           has_colon(load_word<std::uint64_t>(text.data() + size - 8));
  }
  for (const char c : text) {
    if (c == ':') return true;
  }
  return false;
}

// What the local name `local` names.
[[gnu::always_inline]] inline Name known_name(std::string_view local) noexcept {
  if (local.size() == 1) {
    // Paragraphs and their text, the most frequent elements, are told at once.
    return local[0] == 'p' ? Name::P : local[0] == 't' ? Name::T : Name::Other;
  }
  if (local.empty() || local.size() > 16) return Name::Other;
  const std::uint8_t slot = kNameSlots[name_slot(local)];
  if (slot == 0) return Name::Other;
  const KnownName& known = kKnownNames[slot - 1];
  if (known.text.size() != local.size() || !same_bytes(known.text, local)) {
    return Name::Other;
  }
  return known.name;
}

// What the element name `name` (prefix included) names. Writers use two-letter prefixes
// ("hp:", "hs:"): the name after such a prefix is tried first, and as no known name holds a
// ':', a known name there is the local name.
[[gnu::always_inline]] inline Name name_of(std::string_view name) noexcept {
  if (name.size() > 3 && name[2] == ':') {
    const std::string_view after_prefix = name.substr(3);
    const Name known = known_name(after_prefix);
    if (known != Name::Other) return known;
    return holds_colon(after_prefix) ? known_name(local_name(after_prefix)) : Name::Other;
  }
  return known_name(local_name(name));
}

bool is_inline_mark(Name name) {
  return name >= Name::Tab && name <= Name::FieldEnd;
}

bool is_drawing_object(Name name) {
  return name >= Name::Pic && name <= Name::Chart;
}

bool is_true(std::optional<std::string_view> value) {
  return value && (*value == "1" || *value == "true");
}

// `utf8` (well-formed, as expat delivers it) as UTF-16LE code units.
std::string to_utf16le(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  const auto put = [&out](std::uint32_t unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::uint32_t c = length == 1   ? lead
                      : length == 2 ? lead & 0x1F
                      : length == 3 ? lead & 0x0F
                                    : lead & 0x07;
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += length;
    if (c >= 0x10000) {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

// The offset of the first byte of `text` at or after `from` that is below 0x20, or
// text.size().
std::size_t find_control(std::string_view text, std::size_t from) noexcept {
  std::size_t i = from;
#if defined(__SSE2__)
  const __m128i highest = _mm_set1_epi8(0x1F);
  while (text.size() - i >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    // Unsigned: a byte is at most 0x1F when the larger of it and 0x1F is 0x1F.
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, highest), highest);
    if (const int mask = _mm_movemask_epi8(control); mask != 0) {
      return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
    i += 16;
  }
#endif
  while (i < text.size() && static_cast<unsigned char>(text[i]) >= 0x20) ++i;
  return i;
}

// A stack held in the walk itself, for values pushed and popped once per element.
template <class T, std::size_t kCapacity>
class BoundedStack {
 public:
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T back() const noexcept { return values_[size_ - 1]; }
  void push_back(T value) noexcept { values_[size_++] = value; }
  void pop_back() noexcept { --size_; }

 private:
  std::array<T, kCapacity> values_{};
  std::size_t size_ = 0;
};

// What an element is to the walk. Elements below a skipped element are only counted.
enum class Role : std::uint8_t {
  Section,
  Paragraph,
  Run,
  Text,
  Ctrl,
  Field,            // an attaching click-here hp:fieldBegin
  FieldParameters,  // its hp:parameters
  Command,          // its "Command" string parameter
  Prop,             // its "Prop" integer parameter
  Table,
  TableCaption,  // a table's own caption (full profile)
  Row,
  Cell,
  Drawing,  // a drawing object in the body
  Caption,  // that object's own caption
  Equation,
  Script,
  Layer,  // a note, header, footer, memo or hidden comment (full profile)
  // Below a control that stands where no paragraph holds it (a tool-written hp:tbl directly
  // under hs:sec, say): the paragraph opened for it, closed with it (full profile).
  ImplicitParagraph,
  Other,  // looked through: a cell's hp:subList, anything inside a drawing object
};

// Whether the end of an element of `role` has anything to finish (see SectionWalk::close):
// most elements (runs, text, looked-through elements) have not.
constexpr bool has_closing_work(Role role) noexcept {
  constexpr std::uint32_t kClosing =
      1u << static_cast<unsigned>(Role::Section) | 1u << static_cast<unsigned>(Role::Paragraph) |
      1u << static_cast<unsigned>(Role::Field) | 1u << static_cast<unsigned>(Role::Table) |
      1u << static_cast<unsigned>(Role::TableCaption) | 1u << static_cast<unsigned>(Role::Cell) |
      1u << static_cast<unsigned>(Role::Drawing) | 1u << static_cast<unsigned>(Role::Caption) |
      1u << static_cast<unsigned>(Role::Equation) | 1u << static_cast<unsigned>(Role::Layer);
  static_assert(static_cast<unsigned>(Role::Other) < 32);
  return (kClosing >> static_cast<unsigned>(role) & 1u) != 0;
}

// Elements of the body that never hold text, passed over even where the full profile looks
// through unknown elements.
bool is_textless(Name name) {
  return name == Name::LinesegArray || name == Name::SecPr || name == Name::Parameters ||
         name == Name::ShapeComment;
}

// Where paragraphs belong: the body, a table cell, a drawing object (whose paragraphs give
// plain text, as the binary drawing object handler reads them), a table's caption or a layer
// beside the body (read in the full profile only).
enum class Scope : std::uint8_t { Body, Cell, Drawing, Caption, Layer };

// A note, header, footer, memo or hidden comment being read (full profile), and where its
// blocks go when it ends.
struct LayerState {
  enum class Kind : std::uint8_t { Note, Furniture, Annotation } kind = Kind::Note;
  std::uint32_t note = 0;  // its index in the document's notes
  model::Furniture furniture;
  model::AnnotationKind annotation = model::AnnotationKind::Memo;
  std::vector<model::Block> blocks;
};

// The text of a text art object: its "text" attribute, whose line ends the word processor
// writes as the symbols for carriage return and line feed (U+240D, U+240A).
std::string text_art_text(std::string_view written) {
  constexpr std::string_view kReturn = "\xE2\x90\x8D";
  constexpr std::string_view kLineFeed = "\xE2\x90\x8A";
  std::string text;
  text.reserve(written.size());
  for (std::size_t at = 0; at < written.size();) {
    if (written.substr(at, kReturn.size()) == kReturn) {
      at += kReturn.size();
      if (written.substr(at, kLineFeed.size()) == kLineFeed) at += kLineFeed.size();
      text += '\n';
    } else if (written.substr(at, kLineFeed.size()) == kLineFeed) {
      at += kLineFeed.size();
      text += '\n';
    } else {
      text += written[at++];
    }
  }
  return text;
}

// The blocks and tables each profile builds: the minimal profile's rows of cell texts, or the
// model's addressed cells holding blocks.
template <Profile kProfile>
struct Built;
template <>
struct Built<Profile::Minimal> {
  using Block = paravox::Block;
  using Table = paravox::Table;
  using Output = MarkdownWriter;
};
template <>
struct Built<Profile::Full> {
  using Block = model::Block;
  using Table = model::Table;
  using Output = DocumentBuilder;
};

// Whether the attribute or element name `name`, as written, has the local name `local` (which
// holds no ':'): XmlStartTag::attribute's test without searching `name` for its last ':'.
bool has_local_name(std::string_view name, std::string_view local) noexcept {
  if (name.size() < local.size()) return false;
  const std::size_t prefix = name.size() - local.size();
  return (prefix == 0 || name[prefix - 1] == ':') && same_bytes(name.substr(prefix), local);
}

// The value of the first attribute whose local name is each of `locals`, in one pass over
// the tag's attributes.
template <std::size_t N>
[[gnu::always_inline]] inline std::array<std::optional<std::string_view>, N> attributes(
    const XmlStartTag& tag, const std::string_view (&locals)[N]) {
  std::array<std::optional<std::string_view>, N> values;
  std::size_t missing = N;
  for (const XmlAttribute& a : tag.attributes()) {
    for (std::size_t k = 0; k < N; ++k) {
      // Most attributes differ from a wanted name in their length or their last byte.
      if (a.name.size() < locals[k].size() || a.name.back() != locals[k].back()) continue;
      if (values[k] || !has_local_name(a.name, locals[k])) continue;
      values[k] = a.value;
      if (--missing == 0) return values;
      break;
    }
  }
  return values;
}

std::optional<std::string_view> attribute(const XmlStartTag& tag, std::string_view local) {
  return attributes(tag, {local})[0];
}

// A whole number that fits 16 bits, written in decimal digits only, or nothing.
[[gnu::always_inline]] inline std::optional<std::uint16_t> to_u16(
    std::optional<std::string_view> value) {
  if (!value || value->empty()) return std::nullopt;
  std::uint32_t number = 0;
  for (const char c : *value) {
    const auto digit = static_cast<std::uint32_t>(c - '0');
    if (digit > 9) return std::nullopt;
    number = number * 10 + digit;
    if (number > 0xFFFF) return std::nullopt;
  }
  return static_cast<std::uint16_t>(number);
}

template <Profile kProfile>
struct ParagraphState {
  Scope scope = Scope::Body;
  std::string text;  // with a field marker for each closed click-here field
  std::vector<std::string> field_texts;
  std::string open_field;
  bool field_open = false;
  std::vector<FieldInfo> field_infos;
  bool attaching = true;  // no control other than an attached field has come yet
  // Blocks of the controls, after the text: the body's (minimal), every scope's (full).
  std::vector<typename Built<kProfile>::Block> blocks;
  std::vector<Table> tables;  // cell: nested tables, folded in after the text (minimal)
  bool in_caption = false;    // drawing: which list the text goes to, and where
  std::size_t slot = 0;
  std::vector<std::uint32_t> notes;  // the notes its marks stand for, in order (full)
  ParagraphHead head;                // full: its number, heading level or bullet

  void reset(Scope new_scope) {
    scope = new_scope;
    text.clear();
    field_texts.clear();
    open_field.clear();
    field_open = false;
    field_infos.clear();
    attaching = true;
    blocks.clear();
    tables.clear();
    notes.clear();
  }
};

template <Profile kProfile>
struct TableState {
  typename Built<kProfile>::Table table;
  unsigned depth = 0;
  std::uint32_t rows = 0;       // hp:tr elements so far (full)
  bool cell_addressed = false;  // the open cell has had its hp:cellAddr (full)
};

struct DrawingState {
  std::vector<std::string> captions;
  std::vector<std::string> contents;
  bool picture = false;
  bool in_caption = false;
  std::string item_name;  // the last hc:img's binaryItemIDRef outside the caption

  void reset(bool is_picture) {
    captions.clear();
    contents.clear();
    picture = is_picture;
    in_caption = false;
    item_name.clear();
  }

  static std::string join(const std::vector<std::string>& texts, char separator) {
    std::string out;
    for (const std::string& text : texts) {
      if (text.empty()) continue;
      if (!out.empty()) out += separator;
      out += text;
    }
    return out;
  }

  std::string joined_contents() const { return join(contents, '\n'); }

  std::optional<Block> block() const {
    if (picture) return Image{join(captions, ' '), 0, item_name};
    if (std::string text = join(contents, '\n'); !text.empty()) return Paragraph{std::move(text)};
    if (std::string text = join(captions, ' '); !text.empty()) return Paragraph{std::move(text)};
    return std::nullopt;
  }
};

template <Profile kProfile>
class SectionWalk final : public XmlHandler {
 public:
  static constexpr bool kFull = kProfile == Profile::Full;
  using Output = typename Built<kProfile>::Output;

  explicit SectionWalk(Output& out) : out_(out) {}

  XmlVisit start_element(const XmlStartTag& tag) override {
    // The reader nests no deeper than kMaxElementDepth, so this never skips; it keeps the
    // stacks' bounds whatever a reader does.
    if (frames_.size() + 2 > kMaxFrames) return XmlVisit::Skip;
    const Name name = name_of(tag.name());
    std::optional<Role> role = classify(name, tag);
    if constexpr (kFull) {
      if (!role && !frames_.empty()) role = look_through(name, tag);
    }
    if (!role) return XmlVisit::Skip;
    frames_.push_back(*role);
    return XmlVisit::Children;
  }

  void end_element() override {
    const Role role = frames_.back();
    frames_.pop_back();
    if (has_closing_work(role)) close(role);
    if (!frames_.empty() && frames_.back() == Role::ImplicitParagraph) {
      frames_.pop_back();
      close_paragraph();
    }
  }

  void character_data(std::string_view text) override {
    if (frames_.empty()) return;
    switch (frames_.back()) {
      case Role::Text: {
        ParagraphState<kProfile>& p = paragraph();
        std::string& target = p.field_open ? p.open_field : p.text;
        // Characters below U+0020 are control codes in the binary paragraph text, where
        // none of them shows; the XML writes them as elements, and a literal one shows nothing.
        // Appended in runs between them: text rarely holds one.
        for (std::size_t run = 0; run < text.size();) {
          const std::size_t end = find_control(text, run);
          target.append(text, run, end - run);
          run = end + 1;
        }
        break;
      }
      case Role::Script:
        script_.append(text);
        break;
      case Role::Command:
        command_.append(text);
        break;
      case Role::Prop:
        prop_.append(text);
        break;
      default:
        break;
    }
  }

 private:
  ParagraphState<kProfile>& paragraph() { return paragraphs_[open_paragraphs_ - 1]; }

  // `tag`: the paragraph's own element, none for the paragraph a tool-written section's table
  // or drawing object outside any paragraph stands in, which counts in no numbering.
  void open_paragraph(Scope scope, const XmlStartTag* tag) {
    if (open_paragraphs_ == paragraphs_.size()) paragraphs_.emplace_back();
    ParagraphState<kProfile>& p = paragraphs_[open_paragraphs_++];
    p.reset(scope);
    if constexpr (kFull) {
      // Every block of a section's paragraph, in cells at any depth too, comes from it.
      if (scope == Scope::Body) {
        out_.start_paragraph();
        origin_ = out_.origin();
      }
      // Paragraphs of drawing objects count in no numbering, as in the binary walk.
      if (scope != Scope::Drawing && tag != nullptr) {
        number_paragraph(*tag);
      } else {
        p.head = {};
      }
    } else {
      (void)tag;
    }
    if (scope == Scope::Drawing) {
      // The slot is taken now: a paragraph's text comes before the texts nested in it.
      p.in_caption = drawing_.in_caption;
      std::vector<std::string>& list = p.in_caption ? drawing_.captions : drawing_.contents;
      p.slot = list.size();
      list.emplace_back();
    }
  }

  // The role of a new element from its parent's, or nothing when it and its contents are
  // left out.
  std::optional<Role> classify(Name name, const XmlStartTag& tag) {
    if (frames_.empty()) {
      if (name != Name::Sec) return std::nullopt;
      scopes_.push_back(Scope::Body);
      if constexpr (kFull) {
        out_.numbering().begin_section(0);
        outline_seen_ = false;
      }
      return Role::Section;
    }
    const Role parent = frames_.back();
    if (scopes_.back() == Scope::Drawing) return classify_in_drawing(name, parent, tag);
    switch (parent) {
      case Role::Section:
        if (name != Name::P) return std::nullopt;
        open_paragraph(Scope::Body, &tag);
        return Role::Paragraph;
      case Role::Paragraph:
        if (name == Name::Run) return Role::Run;
        return std::nullopt;
      case Role::Run:
        if (name == Name::T) return Role::Text;
        if (name == Name::Ctrl) return Role::Ctrl;
        if (is_inline_mark(name)) {
          if (name == Name::FieldEnd) end_field();
          return std::nullopt;
        }
        if constexpr (kFull) {
          if (name == Name::SecPr) begin_section(tag);
        }
        return control(name, tag);
      case Role::Ctrl:
        if (name == Name::FieldEnd) {
          end_field();
          return std::nullopt;
        }
        return control(name, tag);
      case Role::Field:
        if (name == Name::Parameters) return Role::FieldParameters;
        return std::nullopt;
      case Role::FieldParameters: {
        const auto parameter = attribute(tag, "name");
        if (!parameter) return std::nullopt;
        if (name == Name::StringParam && *parameter == "Command") return Role::Command;
        if (name == Name::IntegerParam && *parameter == "Prop") {
          has_prop_ = true;
          return Role::Prop;
        }
        return std::nullopt;
      }
      case Role::Table:
        if constexpr (kFull) {
          if (name == Name::Caption) return open_caption(tag);
        }
        if (name != Name::Tr) return std::nullopt;
        open_row();
        return Role::Row;
      case Role::Row:
        if (name != Name::Tc) return std::nullopt;
        open_cell(tag);
        scopes_.push_back(Scope::Cell);
        return Role::Cell;
      case Role::Cell:
        if constexpr (kFull) {
          if (name == Name::CellAddr || name == Name::CellSpan) {
            read_cell_place(name, tag);
            return std::nullopt;
          }
        }
        [[fallthrough]];
      case Role::TableCaption:
      case Role::Other:
        if (name == Name::SubList) return Role::Other;
        if (name != Name::P) return std::nullopt;
        open_paragraph(kFull ? scopes_.back() : Scope::Cell, &tag);
        return Role::Paragraph;
      case Role::Layer:
        if (name == Name::SubList) return Role::Other;
        return std::nullopt;
      case Role::Equation:
        if (name != Name::Script || script_seen_) return std::nullopt;
        script_seen_ = true;
        return Role::Script;
      default:
        return std::nullopt;
    }
  }

  // The full profile reads text wherever a tool has put it: an element the walk does not know
  // is looked through, a run or text element belongs to the innermost paragraph, and a table,
  // equation or drawing object outside any paragraph stands in a paragraph of its own.
  // Nothing for the contents of fields, equations and layers, and for elements that hold no
  // text.
  std::optional<Role> look_through(Name name, const XmlStartTag& tag) {
    switch (frames_.back()) {
      // Not below a table or row: a paragraph there would belong to no cell.
      case Role::Section:
      case Role::Cell:
      case Role::TableCaption:
      case Role::Other:
        if (name == Name::Tbl || name == Name::Equation || is_drawing_object(name)) {
          open_paragraph(scopes_.back(), nullptr);
          frames_.push_back(Role::ImplicitParagraph);
          if (std::optional<Role> role = control(name, tag)) return role;
          frames_.pop_back();
          close_paragraph();
          return std::nullopt;
        }
        [[fallthrough]];
      case Role::Paragraph:
      case Role::Run:
        if (open_paragraphs_ > 0 && (name == Name::Run || name == Name::T)) {
          return name == Name::Run ? Role::Run : Role::Text;
        }
        if (is_textless(name)) return std::nullopt;
        return Role::Other;
      default:
        return std::nullopt;
    }
  }

  // Inside a drawing object every paragraph counts, at any depth, as plain text; pictures
  // outside the object's own caption make it a picture.
  std::optional<Role> classify_in_drawing(Name name, Role parent, const XmlStartTag& tag) {
    if (name == Name::P) {
      open_paragraph(Scope::Drawing, &tag);
      return Role::Paragraph;
    }
    if (parent == Role::Paragraph && name == Name::Run) return Role::Run;
    if (parent == Role::Run && name == Name::T) return Role::Text;
    if (parent == Role::Text) return std::nullopt;
    if (parent == Role::Drawing && name == Name::Caption) {
      drawing_.in_caption = true;
      return Role::Caption;
    }
    if (!drawing_.in_caption) {
      if (name == Name::Pic) drawing_.picture = true;
      // As in the binary format, the last picture of a group names the item.
      if (name == Name::Img) drawing_.item_name = attribute(tag, "binaryItemIDRef").value_or("");
    }
    if (name == Name::Textart) add_text_art(tag);
    return Role::Other;
  }

  // A control of the innermost paragraph, in the body, a table cell or a caption.
  std::optional<Role> control(Name name, const XmlStartTag& tag) {
    ParagraphState<kProfile>& p = paragraph();
    if constexpr (kFull) {
      if (std::optional<Role> layer = open_layer(name, tag, p)) return layer;
    }
    if (name == Name::FieldBegin) {
      const bool click_here = attribute(tag, "type") == "CLICK_HERE";
      // Only a click-here field opens, and only when none is open; the end of any field
      // closes the open one.
      if (click_here && !p.field_open) {
        p.field_open = true;
        p.open_field.clear();
      }
      if (click_here && p.attaching) {
        field_ = FieldInfo{
            std::string(attribute(tag, "name").value_or("")), {}, is_true(attribute(tag, "dirty"))};
        command_.clear();
        prop_.clear();
        has_prop_ = false;
        return Role::Field;
      }
      p.attaching = false;
      return std::nullopt;
    }
    p.attaching = false;
    const Scope scope = p.scope;
    if (name == Name::Tbl) {
      unsigned depth = 0;
      if (scope != Scope::Body && !tables_.empty()) {
        depth = tables_.back().depth + 1;
        if (depth > kMaxTableDepth) return std::nullopt;
      } else {
        table_text_ = 0;
      }
      open_table(tag, depth);
      return Role::Table;
    }
    // Inside cells, equations and drawing objects give nothing in the minimal profile.
    if (!kFull && scope != Scope::Body) return std::nullopt;
    if (name == Name::Equation) {
      script_.clear();
      script_seen_ = false;
      return Role::Equation;
    }
    if (is_drawing_object(name)) {
      drawing_.reset(name == Name::Pic);
      if (name == Name::Textart) add_text_art(tag);
      scopes_.push_back(Scope::Drawing);
      return Role::Drawing;
    }
    return std::nullopt;
  }

  void add_text_art(const XmlStartTag& tag) {
    const auto text = attribute(tag, "text");
    if (!text || drawing_.in_caption) return;
    drawing_.contents.push_back(text_art_text(*text));
  }

  // A note, header, footer, memo or hidden comment, whose paragraphs are read into a layer of
  // their own; a note leaves its mark where it stands in `p`. Nothing for any other element.
  std::optional<Role> open_layer(Name name, const XmlStartTag& tag, ParagraphState<kProfile>& p) {
    LayerState layer;
    if (name == Name::FootNote || name == Name::EndNote) {
      layer.kind = LayerState::Kind::Note;
      layer.note = out_.add_note(
          name == Name::FootNote ? model::NoteKind::Footnote : model::NoteKind::Endnote, origin_,
          {});
      if (p.scope != Scope::Drawing) {
        (p.field_open ? p.open_field : p.text).append(kNoteMark);
        p.notes.push_back(layer.note);
      }
    } else if (name == Name::Header || name == Name::Footer) {
      layer.kind = LayerState::Kind::Furniture;
      layer.furniture.kind =
          name == Name::Header ? model::FurnitureKind::Header : model::FurnitureKind::Footer;
      const auto pages = attribute(tag, "applyPageType");
      layer.furniture.pages = pages == "EVEN"  ? model::Pages::Even
                              : pages == "ODD" ? model::Pages::Odd
                                               : model::Pages::Both;
      layer.furniture.origin = origin_;
    } else if (name == Name::HiddenComment ||
               (name == Name::FieldBegin && attribute(tag, "type") == "MEMO")) {
      layer.kind = LayerState::Kind::Annotation;
      layer.annotation = name == Name::HiddenComment ? model::AnnotationKind::HiddenComment
                                                     : model::AnnotationKind::Memo;
    } else {
      return std::nullopt;
    }
    p.attaching = false;
    layers_.push_back(std::move(layer));
    scopes_.push_back(Scope::Layer);
    return Role::Layer;
  }

  void close_layer() {
    LayerState layer = std::move(layers_.back());
    layers_.pop_back();
    switch (layer.kind) {
      case LayerState::Kind::Note:
        out_.notes()[layer.note].blocks = std::move(layer.blocks);
        break;
      case LayerState::Kind::Furniture:
        layer.furniture.blocks = std::move(layer.blocks);
        out_.add_furniture(std::move(layer.furniture));
        break;
      case LayerState::Kind::Annotation:
        out_.add_annotation({layer.annotation, origin_, std::move(layer.blocks)});
        break;
    }
  }

  // Numbers the paragraph just opened. The section's first paragraph holds the section
  // definition (hp:secPr) that names the outline numbering, after its own start: its
  // number waits for that definition, or for the next paragraph or its own end.
  void number_paragraph(const XmlStartTag& tag) {
    number_waiting_paragraph();
    const auto [shape_value, style_value] = attributes(tag, {"paraPrIDRef", "styleIDRef"});
    const std::uint16_t shape = to_u16(shape_value).value_or(0);
    const std::uint16_t style = to_u16(style_value).value_or(0);
    if (!outline_seen_) {
      waiting_ = Waiting{open_paragraphs_ - 1, shape, style};
      paragraph().head = {};
      return;
    }
    paragraph().head = out_.numbering().next(shape, style);
  }

  void number_waiting_paragraph() {
    if (!waiting_) return;
    outline_seen_ = true;
    paragraphs_[waiting_->paragraph].head = out_.numbering().next(waiting_->shape, waiting_->style);
    waiting_.reset();
  }

  void begin_section(const XmlStartTag& tag) {
    if (outline_seen_) return;
    out_.numbering().begin_section(to_u16(attribute(tag, "outlineShapeIDRef")).value_or(0));
    number_waiting_paragraph();
    outline_seen_ = true;
  }

  void open_table(const XmlStartTag& tag, unsigned depth) {
    TableState<kProfile>& state = tables_.emplace_back();
    state.depth = depth;
    if constexpr (kFull) {
      const auto [rows, columns] = attributes(tag, {"rowCnt", "colCnt"});
      state.table.row_count = to_u16(rows).value_or(0);
      state.table.column_count = to_u16(columns).value_or(0);
      state.table.origin = origin_;
    } else {
      (void)tag;
    }
  }

  void open_row() {
    TableState<kProfile>& state = tables_.back();
    if constexpr (kFull) {
      ++state.rows;
    } else {
      // Rows mostly hold as many cells as the row before them.
      const std::size_t cells = state.table.rows.empty() ? 0 : state.table.rows.back().cells.size();
      state.table.rows.emplace_back().cells.reserve(cells);
    }
  }

  void open_cell(const XmlStartTag& tag) {
    TableState<kProfile>& state = tables_.back();
    if constexpr (kFull) {
      out_.held().add(HeldSize::kPerCell);
      model::Cell& cell = state.table.cells.emplace_back();
      // Cells of an hp:tc outside any hp:tr share row 0.
      cell.listed_row = state.rows > 0 ? state.rows - 1 : 0;
      cell.header = is_true(attribute(tag, "header"));
      state.cell_addressed = false;
    } else {
      (void)tag;
      state.table.rows.back().cells.emplace_back();
    }
  }

  // hp:cellAddr (colAddr, rowAddr) and hp:cellSpan (colSpan, rowSpan) of the open cell. A
  // cell without a whole address makes the table's listing disagree; spans default to 1.
  void read_cell_place(Name name, const XmlStartTag& tag) {
    TableState<kProfile>& state = tables_.back();
    model::Cell& cell = state.table.cells.back();
    if (name == Name::CellAddr) {
      const auto [column_value, row_value] = attributes(tag, {"colAddr", "rowAddr"});
      const auto column = to_u16(column_value);
      const auto row = to_u16(row_value);
      state.cell_addressed = column && row;
      cell.column = column.value_or(0);
      cell.row = row.value_or(0);
    } else {
      const auto [columns, rows] = attributes(tag, {"colSpan", "rowSpan"});
      cell.column_span = to_u16(columns).value_or(1);
      cell.row_span = to_u16(rows).value_or(1);
    }
  }

  std::optional<Role> open_caption(const XmlStartTag& tag) {
    model::Table& table = tables_.back().table;
    const auto side = attribute(tag, "side");
    table.caption_side = side == "TOP"     ? model::CaptionSide::Top
                         : side == "LEFT"  ? model::CaptionSide::Left
                         : side == "RIGHT" ? model::CaptionSide::Right
                                           : model::CaptionSide::Bottom;
    scopes_.push_back(Scope::Caption);
    return Role::TableCaption;
  }

  void end_field() {
    ParagraphState<kProfile>& p = paragraph();
    if (p.scope == Scope::Drawing || !p.field_open) return;
    append_field_marker(p.text, p.field_texts.size());
    p.field_texts.push_back(std::move(p.open_field));
    p.open_field.clear();
    p.field_open = false;
  }

  // The roles handled here are those has_closing_work names.
  void close(Role role) {
    switch (role) {
      case Role::Section:
      case Role::Cell:
      case Role::TableCaption:
      case Role::Drawing:
      case Role::Layer:
        scopes_.pop_back();
        if constexpr (kFull) {
          if (role == Role::Layer) close_layer();
        }
        if (role == Role::Drawing) {
          if (std::optional<Block> block = drawing_.block()) add_drawing(std::move(*block));
        }
        if constexpr (kFull) {
          if (role == Role::Cell && !tables_.back().cell_addressed) {
            tables_.back().table.listing_agrees = false;
          }
        }
        break;
      case Role::Caption:
        drawing_.in_caption = false;
        break;
      case Role::Paragraph:
        close_paragraph();
        break;
      case Role::Field:
        close_field();
        break;
      case Role::Table:
        close_table();
        break;
      case Role::Equation:
        if (!script_.empty()) {
          if constexpr (kFull) {
            add_block(equation_block(script_, origin_, out_.held()));
          } else {
            add_block(Equation{std::move(script_)});
          }
        }
        script_.clear();
        break;
      default:
        break;
    }
  }

  void add_drawing(Block block) {
    if constexpr (kFull) {
      add_block(drawing_block(std::move(block), origin_, out_.held()));
      // A group's text boxes beside its pictures (a picture's own text is its caption).
      if (drawing_.picture) {
        std::vector<model::Block> beside;
        add_drawing_text(drawing_.joined_contents(), origin_, beside, out_.held());
        for (model::Block& text : beside) add_block(std::move(text));
      }
    } else {
      add_block(std::move(block));
    }
  }

  void close_table() {
    TableState<kProfile> state = std::move(tables_.back());
    tables_.pop_back();
    if constexpr (kFull) {
      if (state.table.cells.empty()) return;
      out_.held().add(HeldSize::kPerBlock);
      add_block(std::move(state.table));
    } else {
      if (state.table.rows.empty()) return;
      if (state.depth == 0) {
        add_block(std::move(state.table));
      } else {
        paragraph().tables.push_back(std::move(state.table));
      }
    }
  }

  // A block of a control of the innermost paragraph, written after its text.
  void add_block(typename Built<kProfile>::Block block) {
    paragraph().blocks.push_back(std::move(block));
  }

  void close_field() {
    FieldInfo field = std::move(field_);
    // A header whose Prop is not the usual value is one the binary reading rejects: the
    // field then has neither guide text nor modified flag.
    if (has_prop_ && std::string_view(trim_text(prop_)) != kClickHereProp) {
      field.modified = false;
    } else {
      const std::string units = to_utf16le(command_);
      const Bytes command(reinterpret_cast<const std::uint8_t*>(units.data()), units.size());
      field.direction = guide_text(command).value_or(std::string());
    }
    paragraph().field_infos.push_back(std::move(field));
  }

  // The paragraph as the binary walk finishes it: a field control beyond its markers is
  // never attached (it finishes the paragraph instead).
  static std::optional<PendingParagraph> take_pending(ParagraphState<kProfile>& p) {
    if (p.field_infos.size() > p.field_texts.size()) p.field_infos.resize(p.field_texts.size());
    return PendingParagraph{std::move(p.text), std::move(p.field_texts), std::move(p.field_infos)};
  }

  void close_paragraph() {
    ParagraphState<kProfile>& p = paragraph();
    // A field left open keeps its text in place, unmarked.
    if (p.field_open) p.text += p.open_field;
    if constexpr (kFull) {
      if (p.scope == Scope::Drawing) {
        close_drawing_paragraph(p);
      } else {
        close_model_paragraph(p);
      }
    } else {
      switch (p.scope) {
        case Scope::Body: {
          if (p.field_texts.empty()) {
            // The text is copied out, so that its buffer serves the next paragraph; a blank
            // paragraph adds no block.
            if (!trim_text(p.text).empty()) out_.add(Paragraph{p.text});
          } else {
            std::optional<PendingParagraph> slot = take_pending(p);
            out_.add_paragraph(slot);
          }
          for (Block& block : p.blocks) out_.add(std::move(block));
          break;
        }
        case Scope::Cell: {
          TableCell& cell = tables_.back().table.rows.back().cells.back();
          const std::size_t before = cell.text.size();
          if (p.field_texts.empty()) {
            append_cell_text(cell.text, p.text);
          } else {
            std::optional<PendingParagraph> slot = take_pending(p);
            finish_cell_paragraph(slot, cell.text);
          }
          // Cell text of one top-level table, at every depth, all reaches the Markdown.
          const std::size_t added = cell.text.size() - before;
          if (added > kOutputLimit - table_text_) throw OutputLimitExceeded{};
          table_text_ += added;
          for (const Table& nested : p.tables) flatten_table_text(nested, cell.text);
          break;
        }
        case Scope::Drawing:
          close_drawing_paragraph(p);
          break;
        case Scope::Caption:
        case Scope::Layer:
          break;
      }
    }
    --open_paragraphs_;
  }

  void close_drawing_paragraph(ParagraphState<kProfile>& p) {
    std::vector<std::string>& list = p.in_caption ? drawing_.captions : drawing_.contents;
    list[p.slot] = std::string(trim_text(p.text));
  }

  // The full profile's paragraph of the body, a cell or a caption: its text, then the blocks
  // of its controls, into the list it belongs to.
  void close_model_paragraph(ParagraphState<kProfile>& p) {
    std::vector<model::Block>& blocks = p.scope == Scope::Body    ? out_.body()
                                        : p.scope == Scope::Layer ? layers_.back().blocks
                                        : p.scope == Scope::Caption
                                            ? tables_.back().table.caption
                                            : tables_.back().table.cells.back().blocks;
    number_waiting_paragraph();
    model::Paragraph* paragraph = nullptr;
    if (p.field_texts.empty()) {
      // The text is copied out, so that its buffer serves the next paragraph.
      paragraph = add_paragraph_text(p.text, origin_, blocks, out_.held());
    } else {
      std::optional<PendingParagraph> slot = take_pending(p);
      paragraph = add_finished_paragraph(slot, origin_, blocks, out_.held());
    }
    if (paragraph != nullptr) {
      set_paragraph_head(*paragraph, p.head, p.scope != Scope::Body, out_.held());
      for (const std::uint32_t note : p.notes) resolve_note_reference(*paragraph, note);
    }
    for (model::Block& block : p.blocks) blocks.push_back(std::move(block));
  }

  Output& out_;

  // An element pushes at most two frames (a control's implicit paragraph and its own) and
  // one scope, which comes with a frame of its own: scopes are never more than frames.
  static constexpr std::size_t kMaxFrames = 2 * kMaxElementDepth;
  BoundedStack<Role, kMaxFrames> frames_;
  BoundedStack<Scope, kMaxFrames> scopes_;
  std::vector<ParagraphState<kProfile>> paragraphs_;  // open ones first; the rest keep storage
  std::size_t open_paragraphs_ = 0;
  std::vector<TableState<kProfile>> tables_;
  std::size_t table_text_ = 0;
  DrawingState drawing_;
  std::vector<LayerState> layers_;  // full
  std::string script_;
  bool script_seen_ = false;
  FieldInfo field_;
  std::string command_;
  std::string prop_;
  bool has_prop_ = false;
  model::Origin origin_;  // of the section's paragraph being read (full)
  // Full: whether the section's outline numbering is known, and the paragraph that waits
  // for it to be numbered.
  struct Waiting {
    std::size_t paragraph = 0;  // in paragraphs_
    std::uint16_t shape = 0;
    std::uint16_t style = 0;
  };
  bool outline_seen_ = false;
  std::optional<Waiting> waiting_;
};

}  // namespace

Status walk_section_part(Bytes xml, std::string_view part_name, MarkdownWriter& writer) {
  SectionWalk<Profile::Minimal> walk(writer);
  return read_xml(xml, part_name, walk);
}

Status walk_section_part(Bytes xml, std::string_view part_name, DocumentBuilder& document) {
  SectionWalk<Profile::Full> walk(document);
  return read_xml(xml, part_name, walk);
}

}  // namespace paravox
