#include "document/full_markdown.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "base/error.h"
#include "document/block.h"
#include "document/markdown.h"
#include "document/table_layout.h"

namespace paravox {
namespace {

constexpr std::string_view kCellBreak = "<br>";

// The two forms a table takes, and the escaping each needs.
enum class Form : std::uint8_t { Pipe, Html };

// The bytes that need escaping in each form. Text is UTF-8, so no byte of a multi-byte
// character is ever one of them.
constexpr bool is_special(char c, Form form) noexcept {
  return c == '\n' ||
         (form == Form::Pipe ? c == '|' || c == '\\' : c == '&' || c == '<' || c == '>');
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

  void append_escaped(std::string_view text, Form form) {
    // Most cell text holds nothing to escape.
    if (std::none_of(text.begin(), text.end(), [form](char c) { return is_special(c, form); })) {
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

class Writer {
 public:
  Writer(std::string& text, const std::vector<model::Note>& notes) : out_(text), notes_(notes) {}

  void blocks(const std::vector<model::Block>& blocks) {
    for (const model::Block& block : blocks) this->block(block);
  }

  void block(const model::Block& block) {
    std::visit(
        [this](const auto& content) {
          using Content = std::decay_t<decltype(content)>;
          if constexpr (std::is_same_v<Content, model::Paragraph>) {
            paragraph_text(content, std::nullopt);
            out_.append(kParagraphEnd);
          } else if constexpr (std::is_same_v<Content, model::Equation>) {
            out_.append(kEquationOpen);
            out_.append(content.script);
            out_.append(kEquationClose);
          } else if constexpr (std::is_same_v<Content, model::Picture>) {
            picture(content, std::nullopt);
            out_.append(kParagraphEnd);
          } else {
            table(content);
          }
        },
        block);
  }

 private:
  // A paragraph's text with its note references; escaped for a cell of `form`, plain in the
  // body. A reference to no note of the document shows nothing.
  void paragraph_text(const model::Paragraph& paragraph, std::optional<Form> form) {
    const auto text = [&](std::string_view piece) {
      if (form) {
        out_.append_escaped(piece, *form);
      } else {
        out_.append(piece);
      }
    };
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

  // The placeholder of a picture; escaped for a cell of `form`, plain in the body.
  void picture(const model::Picture& picture, std::optional<Form> form) {
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
            paragraph_text(content, form);
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
void write_notes(const model::Document& document, model::NoteKind kind, std::string& out) {
  std::string body;
  for (const model::Note& note : document.notes) {
    if (note.kind != kind) continue;
    body.clear();
    Writer writer(body, document.notes);
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
                            bool headers_footers) {
  std::string text;
  text.reserve(std::min(expected_size, kOutputLimit));
  Writer writer(text, document.notes);
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
    write_notes(document, model::NoteKind::Footnote, text);
    write_notes(document, model::NoteKind::Endnote, text);
  }
  trim_trailing_white_space(text);
  return text;
}

}  // namespace paravox
