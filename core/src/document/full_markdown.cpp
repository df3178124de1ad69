#include "document/full_markdown.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/error.h"
#include "document/block.h"
#include "document/markdown.h"
#include "document/pictures.h"
#include "document/table_layout.h"

namespace paravox {
namespace {

constexpr std::string_view kCellBreak = "<br>";
// Markdown has six levels of headings; deeper outline levels share the sixth.
constexpr std::size_t kDeepestHeading = 6;
// The most digits an ordered list item's number has in Markdown.
constexpr std::size_t kLongestListNumber = 9;

// The two forms a table takes, and the escaping each needs.
enum class Form : std::uint8_t { Pipe, Html };

// The bytes that need escaping in each form. Text is UTF-8, so no byte of a multi-byte
// character is ever one of them.
constexpr bool is_special(char c, Form form) noexcept {
  return c == '\n' ||
         (form == Form::Pipe ? c == '|' || c == '\\' : c == '&' || c == '<' || c == '>');
}

// Whether `text` holds a byte that needs escaping in `form`. Sixteen bytes at a time where
// there are as many: most cell text holds none.
bool needs_escaping(std::string_view text, Form form) noexcept {
#if defined(__SSE2__)
  if (text.size() >= 16) {
    const __m128i line_feed = _mm_set1_epi8('\n');
    const __m128i first = _mm_set1_epi8(form == Form::Pipe ? '|' : '&');
    const __m128i second = _mm_set1_epi8(form == Form::Pipe ? '\\' : '<');
    const __m128i third = _mm_set1_epi8(form == Form::Pipe ? '\n' : '>');
    const auto holds_special = [&](std::size_t at) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
      const __m128i hits =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, line_feed), _mm_cmpeq_epi8(v, first)),
                       _mm_or_si128(_mm_cmpeq_epi8(v, second), _mm_cmpeq_epi8(v, third)));
      return _mm_movemask_epi8(hits) != 0;
    };
    for (std::size_t at = 0; text.size() - at > 16; at += 16) {
      if (holds_special(at)) return true;
    }
    // The last sixteen bytes, which may overlap those already looked at.
    return holds_special(text.size() - 16);
  }
#endif
  return std::any_of(text.begin(), text.end(), [form](char c) { return is_special(c, form); });
}

// Calls `emit` with the pieces of `text` escaped for `form`. A line feed becomes <br> in
// both. In a pipe table "|" becomes "\|", and a run of backslashes before a "|" or at the
// end is doubled, so that no backslash escapes the bar that follows it.
template <class Emit>
void escape(std::string_view text, Form form, Emit&& emit) {
  std::size_t copied = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (!is_special(text[at], form)) continue;
    emit(text.substr(copied, at - copied));
    copied = at + 1;
    switch (text[at]) {
      case '\n':
        emit(kCellBreak);
        break;
      case '|':
        emit("\\|");
        break;
      case '&':
        emit("&amp;");
        break;
      case '<':
        emit("&lt;");
        break;
      case '>':
        emit("&gt;");
        break;
      default: {
        std::size_t end = text.find_first_not_of('\\', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view backslashes = text.substr(at, end - at);
        emit(backslashes);
        if (end == text.size() || text[end] == '|') emit(backslashes);
        copied = end;
        at = end - 1;
        break;
      }
    }
  }
  emit(text.substr(copied));
}

// The Markdown text being written; every append checks the ceiling first.
class Output {
 public:
  explicit Output(std::string& text) : text_(text) {}

  void append(std::string_view piece) {
    room_for(piece.size());
    text_.append(piece);
  }

  // `text` with every `from` written as `to`.
  void append_joined(std::string_view text, char from, char to) {
    room_for(text.size());
    const std::size_t start = text_.size();
    text_.append(text);
    std::replace(text_.begin() + static_cast<std::ptrdiff_t>(start), text_.end(), from, to);
  }

  void append_escaped(std::string_view text, Form form) {
    // Most cell text holds nothing to escape.
    if (!needs_escaping(text, form)) {
      append(text);
      return;
    }
    std::size_t size = 0;
    escape(text, form, [&](std::string_view piece) { size += piece.size(); });
    room_for(size);
    escape(text, form, [&](std::string_view piece) { text_.append(piece); });
  }

 private:
  void room_for(std::size_t size) {
    if (size > kOutputLimit - text_.size()) throw OutputLimitExceeded{};
  }

  std::string& text_;
};

// What the cell content written last was, for the <br> between items: none comes before or
// after a <table>, which stands on its own.
enum class Last : std::uint8_t { Nothing, Text, Table };

bool shows_table(const model::Block& block);

// Whether `table`, written inside a cell, shows a <table>: it does unless it is left with at
// most one cell whose blocks show none, and its caption shows none either.
bool shows_table(const model::Table& table) {
  for (const model::Block& block : table.caption) {
    if (shows_table(block)) return true;
  }
  const TableLayout layout = lay_out_table(table);
  if (layout.cells.size() != 1) return layout.cells.size() > 1;
  for (const model::Block& block : layout.cells.front().cell->blocks) {
    if (shows_table(block)) return true;
  }
  return false;
}

bool shows_table(const model::Block& block) {
  const auto* table = std::get_if<model::Table>(&block);
  return table != nullptr && shows_table(*table);
}

bool caption_comes_first(model::CaptionSide side) {
  return side == model::CaptionSide::Top || side == model::CaptionSide::Left;
}

// The label of a note: "^1", "^2"... for footnotes, "^e1"... for endnotes.
void append_note_label(std::string& out, const model::Note& note) {
  out += note.kind == model::NoteKind::Endnote ? "[^e" : "[^";
  char digits[12];
  const auto end = std::to_chars(digits, digits + sizeof digits, note.ordinal).ptr;
  out.append(digits, end);
  out += ']';
}

template <class Block>
model::Origin origin_of(const Block& block) {
  return std::visit([](const auto& content) { return content.origin; }, block);
}

// Bytes a link target writes as %XX: those that would end or break it in Markdown, in a pipe
// table or in an HTML attribute, white space, and % itself.
bool needs_percent(unsigned char c) noexcept {
  return c <= 0x20 || c == 0x7F ||
         std::string_view("%()<>[]|\\\"&'`").find(static_cast<char>(c)) != std::string_view::npos;
}

// "FOLDER/image1.png", percent-encoded as a relative URL.
std::string link_target(std::string_view folder, const model::EmbeddedPicture& picture) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string target;
  for (const char c : folder) {
    const auto byte = static_cast<unsigned char>(c);
    if (!needs_percent(byte)) {
      target.push_back(c);
      continue;
    }
    target.push_back('%');
    target.push_back(kHex[byte >> 4]);
    target.push_back(kHex[byte & 0xF]);
  }
  target.push_back('/');
  target.append(picture_file_name(picture));
  return target;
}

// `caption` as the text of a Markdown link: backslashes and brackets escaped, line feeds as
// spaces.
std::string link_text(std::string_view caption) {
  std::string text;
  for (const char c : caption) {
    if (c == '\\' || c == '[' || c == ']') text.push_back('\\');
    text.push_back(c == '\n' ? ' ' : c);
  }
  return text;
}

// `caption` as an HTML attribute value.
std::string attribute_value(std::string_view caption) {
  std::string value;
  for (const char c : caption) {
    switch (c) {
      case '&':
        value += "&amp;";
        break;
      case '<':
        value += "&lt;";
        break;
      case '>':
        value += "&gt;";
        break;
      case '"':
        value += "&quot;";
        break;
      case '\n':
        value += ' ';
        break;
      default:
        value += c;
    }
  }
  return value;
}

// Each picture id's link target.
using LinkTargets = std::unordered_map<std::string, std::string>;

class Writer {
 public:
  // `targets`: each picture id's link target, empty when pictures are not linked; it must
  // outlive the writer, as must `notes`.
  Writer(std::string& text, const std::vector<model::Note>& notes, const LinkTargets& targets)
      : out_(text), notes_(notes), targets_(targets) {}

  void blocks(const std::vector<model::Block>& blocks) {
    for (const model::Block& block : blocks) this->block(block);
  }

  void block(const model::Block& block) {
    std::visit(
        [this](const auto& content) {
          using Content = std::decay_t<decltype(content)>;
          if constexpr (std::is_same_v<Content, model::Paragraph>) {
            paragraph(content);
          } else if constexpr (std::is_same_v<Content, model::Equation>) {
            list_depth_ = 0;
            out_.append(kEquationOpen);
            out_.append(content.script);
            out_.append(kEquationClose);
          } else if constexpr (std::is_same_v<Content, model::Picture>) {
            list_depth_ = 0;
            picture(content, std::nullopt);
            out_.append(kParagraphEnd);
          } else {
            list_depth_ = 0;
            table(content);
          }
        },
        block);
  }

 private:
  // A paragraph's text with its note references, its text's pieces written by `text`. A
  // reference to no note of the document shows nothing.
  template <class WriteText>
  void paragraph_text(const model::Paragraph& paragraph, WriteText&& text) {
    if (paragraph.notes.empty()) {
      text(paragraph.text);
      return;
    }
    const std::string_view whole = paragraph.text;
    std::size_t written = 0;
    std::string label;
    for (const model::NoteReference& reference : paragraph.notes) {
      const std::size_t at = std::clamp(reference.offset, written, whole.size());
      text(whole.substr(written, at - written));
      written = at;
      if (reference.note >= notes_.size()) continue;
      label.clear();
      append_note_label(label, notes_[reference.note]);
      out_.append(label);
    }
    text(whole.substr(written));
  }

  void plain_text(const model::Paragraph& paragraph) {
    paragraph_text(paragraph, [this](std::string_view piece) { out_.append(piece); });
  }

  void paragraph(const model::Paragraph& paragraph) {
    switch (paragraph.role) {
      case model::ParagraphRole::Heading: {
        list_depth_ = 0;
        const std::size_t marks = std::clamp<std::size_t>(paragraph.level, 1, kDeepestHeading);
        out_.append(std::string_view("######", marks));
        out_.append(" ");
        if (!paragraph.number.empty()) {
          out_.append(paragraph.number);
          out_.append(" ");
        }
        // A heading ends at its line's end: line feeds in its text become spaces.
        paragraph_text(paragraph,
                       [this](std::string_view piece) { out_.append_joined(piece, '\n', ' '); });
        break;
      }
      case model::ParagraphRole::ListItem:
        if (!paragraph.bullet.empty()) {
          // An item nests at most one level below the item before it, so that its
          // indentation always reads as a list item.
          const std::size_t depth = std::min<std::size_t>(paragraph.level, list_depth_);
          for (std::size_t i = 0; i < depth; ++i) out_.append("  ");
          out_.append("- ");
          plain_text(paragraph);
          list_depth_ = depth + 1;
          break;
        }
        list_depth_ = 0;
        number_before_text(paragraph.number);
        plain_text(paragraph);
        break;
      case model::ParagraphRole::Body:
      case model::ParagraphRole::Drawing:
        list_depth_ = 0;
        plain_text(paragraph);
        break;
    }
    out_.append(kParagraphEnd);
  }

  // A number shown before a paragraph's text, which must not make it an ordered list item
  // that Markdown would renumber: "3." or "3)" is written "3\." or "3\)".
  void number_before_text(std::string_view number) {
    const std::size_t digits = number.find_first_not_of("0123456789");
    if (digits > 0 && digits <= kLongestListNumber && digits < number.size() &&
        (number[digits] == '.' || number[digits] == ')')) {
      out_.append(number.substr(0, digits));
      out_.append("\\");
      out_.append(number.substr(digits));
    } else {
      out_.append(number);
    }
    out_.append(" ");
  }

  // The placeholder of a picture, or its link when pictures are linked; escaped for a cell
  // of `form`, plain in the body.
  void picture(const model::Picture& picture, std::optional<Form> form) {
    if (const auto target = targets_.find(picture.picture); target != targets_.end()) {
      linked_picture(picture.caption, target->second, form);
      return;
    }
    if (picture.caption.empty()) {
      out_.append(kImageWithoutCaption);
      return;
    }
    out_.append(kImageOpen);
    if (form) {
      out_.append_escaped(picture.caption, *form);
    } else {
      out_.append(picture.caption);
    }
    out_.append(kImageClose);
  }

  // ![caption](target); in an HTML cell, where Markdown is not read, <img src alt>.
  void linked_picture(std::string_view caption, std::string_view target, std::optional<Form> form) {
    if (form == Form::Html) {
      out_.append("<img src=\"");
      out_.append(target);
      out_.append("\" alt=\"");
      out_.append(attribute_value(caption));
      out_.append("\">");
      return;
    }
    out_.append("![");
    if (form) {
      out_.append_escaped(link_text(caption), *form);
    } else {
      out_.append(link_text(caption));
    }
    out_.append("](");
    out_.append(target);
    out_.append(")");
  }

  void table(const model::Table& table) {
    const bool caption_first = caption_comes_first(table.caption_side);
    if (caption_first) blocks(table.caption);
    const TableLayout layout = lay_out_table(table);
    if (layout.cells.size() == 1) {
      blocks(layout.cells.front().cell->blocks);
    } else if (layout.cells.size() > 1) {
      if (!layout.has_merged_cells() && !any_cell_shows_table(layout)) {
        pipe_table(layout);
      } else {
        html_table(layout);
        out_.append(kParagraphEnd);
      }
    }
    if (!caption_first) blocks(table.caption);
  }

  static bool any_cell_shows_table(const TableLayout& layout) {
    for (const PlacedCell& placed : layout.cells) {
      for (const model::Block& block : placed.cell->blocks) {
        if (shows_table(block)) return true;
      }
    }
    return false;
  }

  void pipe_table(const TableLayout& layout) {
    auto next = layout.cells.begin();
    for (std::uint32_t row = 0; row < layout.row_count; ++row) {
      out_.append("|");
      std::uint32_t column = 0;
      for (; next != layout.cells.end() && next->row == row; ++next) {
        // Only a table in record order has rows shorter than others.
        for (; column < next->column; ++column) out_.append("|");
        Last last = Last::Nothing;
        cell_content(*next->cell, Form::Pipe, last);
        out_.append("|");
        column = next->column + 1;
      }
      for (; column < layout.column_count; ++column) out_.append("|");
      out_.append("\n");
      if (row == 0) {
        out_.append("|");
        for (std::uint32_t c = 0; c < layout.column_count; ++c) out_.append("---|");
        out_.append("\n");
      }
    }
    out_.append("\n");
  }

  void html_table(const TableLayout& layout) {
    out_.append("<table>");
    auto next = layout.cells.begin();
    for (std::uint32_t row = 0; row < layout.row_count; ++row) {
      out_.append("<tr>");
      for (; next != layout.cells.end() && next->row == row; ++next) {
        const bool header = next->cell->header;
        open_cell_tag(header, next->row_span, next->column_span);
        Last last = Last::Nothing;
        cell_content(*next->cell, Form::Html, last);
        out_.append(header ? "</th>" : "</td>");
      }
      out_.append("</tr>");
    }
    out_.append("</table>");
  }

  // "<td>" or "<th>", with rowspan and colspan when above 1, written at once.
  void open_cell_tag(bool header, std::uint32_t row_span, std::uint32_t column_span) {
    char tag[48];
    char* end = tag;
    const auto put = [&end](std::string_view piece) {
      end = std::copy(piece.begin(), piece.end(), end);
    };
    put(header ? "<th" : "<td");
    for (const auto& [name, span] :
         {std::pair{" rowspan=\"", row_span}, {" colspan=\"", column_span}}) {
      if (span <= 1) continue;
      put(name);
      end = std::to_chars(end, tag + sizeof tag, span).ptr;
      put("\"");
    }
    put(">");
    out_.append(std::string_view(tag, static_cast<std::size_t>(end - tag)));
  }

  void cell_content(const model::Cell& cell, Form form, Last& last) {
    for (const model::Block& block : cell.blocks) inline_block(block, form, last);
  }

  void inline_blocks(const std::vector<model::Block>& blocks, Form form, Last& last) {
    for (const model::Block& block : blocks) inline_block(block, form, last);
  }

  // Starts an item of text inside a cell.
  void text_item(Last& last) {
    if (last == Last::Text) out_.append(kCellBreak);
    last = Last::Text;
  }

  void inline_block(const model::Block& block, Form form, Last& last) {
    std::visit(
        [&](const auto& content) {
          using Content = std::decay_t<decltype(content)>;
          if constexpr (std::is_same_v<Content, model::Paragraph>) {
            text_item(last);
            if (!content.bullet.empty()) {
              out_.append("- ");
            } else if (!content.number.empty()) {
              out_.append_escaped(content.number, form);
              out_.append(" ");
            }
            paragraph_text(content,
                           [&](std::string_view piece) { out_.append_escaped(piece, form); });
          } else if constexpr (std::is_same_v<Content, model::Equation>) {
            text_item(last);
            out_.append("$");
            out_.append_escaped(content.script, form);
            out_.append("$");
          } else if constexpr (std::is_same_v<Content, model::Picture>) {
            text_item(last);
            picture(content, form);
          } else {
            inline_table(content, form, last);
          }
        },
        block);
  }

  void inline_table(const model::Table& table, Form form, Last& last) {
    const bool caption_first = caption_comes_first(table.caption_side);
    if (caption_first) inline_blocks(table.caption, form, last);
    const TableLayout layout = lay_out_table(table);
    if (layout.cells.size() == 1) {
      cell_content(*layout.cells.front().cell, form, last);
    } else if (layout.cells.size() > 1) {
      html_table(layout);
      last = Last::Table;
    }
    if (!caption_first) inline_blocks(table.caption, form, last);
  }

  Output out_;
  const std::vector<model::Note>& notes_;
  const LinkTargets& targets_;
  // The bulleted items just written: 1 after a first-level item, 2 after a second-level one
  // nested in it, ...; 0 after any other block.
  std::size_t list_depth_ = 0;
};

// `text` with four spaces before every line but the first that is not empty, as the lines
// after the first of a footnote definition stand.
void append_indented(std::string& out, std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    end = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(at, end - at);
    if (at > 0 && line != "\n") out += "    ";
    out += line;
    at = end;
  }
}

// The notes of `kind` as Markdown footnote definitions, in the order of their ordinals.
void write_notes(const model::Document& document, model::NoteKind kind, const LinkTargets& targets,
                 std::string& out) {
  std::string body;
  for (const model::Note& note : document.notes) {
    if (note.kind != kind) continue;
    body.clear();
    Writer writer(body, document.notes, targets);
    writer.blocks(note.blocks);
    trim_trailing_white_space(body);
    std::string definition;
    append_note_label(definition, note);
    definition += body.empty() ? ":" : ": ";
    append_indented(definition, body);
    definition += kParagraphEnd;
    if (definition.size() > kOutputLimit - out.size()) throw OutputLimitExceeded{};
    out += definition;
  }
}

// Writes the headers and footers of the sections up to `section` not written yet, each whose
// Markdown differs from every one written before.
class FurnitureWriter {
 public:
  FurnitureWriter(const model::Document& document, Writer& writer, std::string& text)
      : document_(document), writer_(writer), text_(text) {}

  void through(std::uint32_t section) {
    const std::vector<model::Furniture>& all = document_.furniture;
    for (; next_ < all.size() && all[next_].origin.section <= section; ++next_) {
      const std::size_t before = text_.size();
      writer_.blocks(all[next_].blocks);
      std::string written = text_.substr(before);
      if (std::find(seen_.begin(), seen_.end(), written) != seen_.end()) {
        text_.resize(before);
      } else {
        seen_.push_back(std::move(written));
      }
    }
  }

 private:
  const model::Document& document_;
  Writer& writer_;
  std::string& text_;
  std::size_t next_ = 0;
  std::vector<std::string> seen_;
};

}  // namespace

std::string render_markdown(const model::Document& document, std::size_t expected_size,
                            std::string_view picture_folder, bool headers_footers) {
  LinkTargets targets;
  if (!picture_folder.empty()) {
    for (const model::EmbeddedPicture& picture : document.pictures) {
      targets.try_emplace(picture.id, link_target(picture_folder, picture));
    }
  }
  std::string text;
  text.reserve(std::min(expected_size, kOutputLimit));
  Writer writer(text, document.notes, targets);
  if (headers_footers && !document.furniture.empty()) {
    FurnitureWriter furniture(document, writer, text);
    for (const model::Block& block : document.body) {
      furniture.through(origin_of(block).section);
      writer.block(block);
    }
    furniture.through(std::numeric_limits<std::uint32_t>::max());
  } else {
    writer.blocks(document.body);
  }
  if (!document.notes.empty()) {
    trim_trailing_white_space(text);
    if (!text.empty()) text += kParagraphEnd;
    write_notes(document, model::NoteKind::Footnote, targets, text);
    write_notes(document, model::NoteKind::Endnote, targets, text);
  }
  trim_trailing_white_space(text);
  return text;
}

}  // namespace paravox
