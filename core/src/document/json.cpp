#include "document/json.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <variant>

#include "base/error.h"
#include "document/block.h"
#include "document/front_matter.h"

namespace paravox {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence starting `text` (a non-ASCII lead byte), or 0
// when there is none: overlong forms, surrogates and code points past U+10FFFF are not.
std::size_t utf8_sequence_length(std::string_view text) noexcept {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(0);
  std::size_t length = 0;
  std::uint8_t low = 0x80;  // the bounds of the second byte, narrower after some leads
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// The JSON text being written, never let past `limit` bytes.
class Sink {
 public:
  explicit Sink(std::size_t limit) : limit_(limit) {}

  void put(std::string_view text) {
    if (text.size() > limit_ - out_.size()) throw OutputLimitExceeded{};
    out_ += text;
  }
  void put(char c) { put(std::string_view(&c, 1)); }

  // `text` as a JSON string: plain runs copied whole, each escape or replacement put alone.
  void put_string(std::string_view text) {
    put('"');
    std::size_t run = 0;  // start of the plain bytes not yet put
    std::size_t i = 0;
    while (i < text.size()) {
      const auto c = static_cast<std::uint8_t>(text[i]);
      if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
        ++i;
        continue;
      }
      const std::size_t sequence = c >= 0x80 ? utf8_sequence_length(text.substr(i)) : 0;
      if (sequence != 0) {
        i += sequence;
        continue;
      }
      put(text.substr(run, i - run));
      if (c == '"' || c == '\\') {
        const char escaped[2] = {'\\', static_cast<char>(c)};
        put(std::string_view(escaped, 2));
      } else if (c < 0x20) {
        char escaped[7];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
        put(std::string_view(escaped, 6));
      } else {
        put(kReplacement);
      }
      run = ++i;
    }
    put(text.substr(run));
    put('"');
  }

  void put_number(std::uint64_t value) { put(std::to_string(value)); }

  std::string take() { return std::move(out_); }

 private:
  std::string out_;
  std::size_t limit_;
};

// {"section":0,"paragraph":3}, with the innermost `cell`'s address when there is one.
void write_origin(Sink& sink, const model::Origin& origin, const model::Cell* cell = nullptr) {
  sink.put("{\"section\":");
  sink.put_number(origin.section);
  sink.put(",\"paragraph\":");
  sink.put_number(origin.paragraph);
  if (cell != nullptr) {
    sink.put(",\"cell\":{\"row\":");
    sink.put_number(cell->row);
    sink.put(",\"column\":");
    sink.put_number(cell->column);
    sink.put('}');
  }
  sink.put('}');
}

// A note's label as Markdown writes it after "[^": "1", "2", ... for footnotes, "e1", ... for
// endnotes.
std::string note_label(const model::Note& note) {
  std::string label = note.kind == model::NoteKind::Endnote ? "e" : "";
  label += std::to_string(note.ordinal);
  return label;
}

// Writes the document's parts, one function per kind of block.
class DocumentWriter {
 public:
  // `notes`: the document's, which paragraphs' references name by label.
  DocumentWriter(Sink& sink, const std::vector<model::Note>& notes) : sink_(sink), notes_(notes) {}

  void blocks(const std::vector<model::Block>& list) {
    sink_.put('[');
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (i > 0) sink_.put(',');
      std::visit([this](const auto& block) { write(block); }, list[i]);
    }
    sink_.put(']');
  }

 private:
  void begin_block(std::string_view type, const model::Origin& origin) {
    sink_.put("{\"type\":\"");
    sink_.put(type);
    sink_.put("\",\"origin\":");
    write_origin(sink_, origin, cell_);
  }

  // ,"key":"text"
  void text_member(std::string_view key, std::string_view text) {
    sink_.put(",\"");
    sink_.put(key);
    sink_.put("\":");
    sink_.put_string(text);
  }

  // A heading carries its level (1-10) and number if any; a list item its level (from 0)
  // and its number or bullet.
  void write(const model::Paragraph& paragraph) {
    if (paragraph.role == model::ParagraphRole::Drawing) {
      // A drawing holds its text as a paragraph.
      begin_block("drawing", paragraph.origin);
      sink_.put(",\"blocks\":[");
      begin_block("paragraph", paragraph.origin);
      text_member("text", paragraph.text);
      sink_.put("}]}");
      return;
    }
    const bool heading = paragraph.role == model::ParagraphRole::Heading;
    const bool item = paragraph.role == model::ParagraphRole::ListItem;
    begin_block(heading ? "heading" : item ? "list_item" : "paragraph", paragraph.origin);
    text_member("text", paragraph.text);
    if (heading || item) {
      sink_.put(",\"level\":");
      sink_.put_number(paragraph.level);
      if (!paragraph.number.empty()) text_member("number", paragraph.number);
      if (item && paragraph.number.empty() && !paragraph.bullet.empty()) {
        text_member("bullet", paragraph.bullet);
      }
    }
    note_references(paragraph);
    sink_.put('}');
  }

  // ,"notes":[{"offset":3,"label":"1"}], leaving out a reference to no note of the document.
  void note_references(const model::Paragraph& paragraph) {
    bool first = true;
    for (const model::NoteReference& reference : paragraph.notes) {
      if (reference.note >= notes_.size()) continue;
      sink_.put(first ? ",\"notes\":[{\"offset\":" : ",{\"offset\":");
      first = false;
      sink_.put_number(std::min(reference.offset, paragraph.text.size()));
      sink_.put(",\"label\":");
      sink_.put_string(note_label(notes_[reference.note]));
      sink_.put('}');
    }
    if (!first) sink_.put(']');
  }

  void write(const model::Equation& equation) {
    begin_block("equation", equation.origin);
    text_member("script", equation.script);
    sink_.put('}');
  }

  void write(const model::Picture& picture) {
    begin_block("picture", picture.origin);
    text_member("caption", picture.caption);
    if (!picture.picture.empty()) text_member("picture", picture.picture);
    sink_.put('}');
  }

  void write(const model::Table& table) {
    begin_block("table", table.origin);
    sink_.put(",\"rows\":");
    sink_.put_number(table.row_count);
    sink_.put(",\"columns\":");
    sink_.put_number(table.column_count);
    sink_.put(",\"cells\":[");
    const model::Cell* outer = cell_;
    for (std::size_t i = 0; i < table.cells.size(); ++i) {
      const model::Cell& cell = table.cells[i];
      if (i > 0) sink_.put(',');
      sink_.put("{\"row\":");
      sink_.put_number(cell.row);
      sink_.put(",\"column\":");
      sink_.put_number(cell.column);
      sink_.put(",\"row_span\":");
      sink_.put_number(cell.row_span);
      sink_.put(",\"column_span\":");
      sink_.put_number(cell.column_span);
      sink_.put(cell.header ? ",\"header\":true" : ",\"header\":false");
      sink_.put(",\"blocks\":");
      cell_ = &cell;
      blocks(cell.blocks);
      cell_ = outer;
      sink_.put('}');
    }
    sink_.put(']');
    // The caption stands beside the table, in the cell (if any) that holds the table.
    if (!table.caption.empty()) {
      sink_.put(",\"caption\":");
      blocks(table.caption);
      sink_.put(",\"caption_side\":\"");
      sink_.put(caption_side_name(table.caption_side));
      sink_.put('"');
    }
    sink_.put('}');
  }

  static std::string_view caption_side_name(model::CaptionSide side) {
    switch (side) {
      case model::CaptionSide::Left:
        return "left";
      case model::CaptionSide::Right:
        return "right";
      case model::CaptionSide::Top:
        return "top";
      case model::CaptionSide::Bottom:
        break;
    }
    return "bottom";
  }

  Sink& sink_;
  const std::vector<model::Note>& notes_;
  const model::Cell* cell_ = nullptr;  // the innermost cell being written, if any
};

// ,"footnotes":[{"label":"1","origin":{...},"blocks":[...]}] for the notes of `kind`, if any.
void write_notes(Sink& sink, const model::Document& document, model::NoteKind kind,
                 std::string_view key) {
  bool first = true;
  for (const model::Note& note : document.notes) {
    if (note.kind != kind) continue;
    if (first) {
      sink.put(',');
      sink.put_string(key);
      sink.put(":[");
    } else {
      sink.put(',');
    }
    first = false;
    sink.put("{\"label\":");
    sink.put_string(note_label(note));
    sink.put(",\"origin\":");
    write_origin(sink, note.origin);
    sink.put(",\"blocks\":");
    DocumentWriter(sink, document.notes).blocks(note.blocks);
    sink.put('}');
  }
  if (!first) sink.put(']');
}

std::string_view pages_name(model::Pages pages) {
  switch (pages) {
    case model::Pages::Even:
      return "even";
    case model::Pages::Odd:
      return "odd";
    case model::Pages::Both:
      break;
  }
  return "both";
}

void write_furniture(Sink& sink, const model::Document& document) {
  sink.put('[');
  for (std::size_t i = 0; i < document.furniture.size(); ++i) {
    const model::Furniture& furniture = document.furniture[i];
    if (i > 0) sink.put(',');
    sink.put(furniture.kind == model::FurnitureKind::Header ? "{\"kind\":\"header\""
                                                            : "{\"kind\":\"footer\"");
    sink.put(",\"pages\":\"");
    sink.put(pages_name(furniture.pages));
    sink.put("\",\"section\":");
    sink.put_number(furniture.origin.section);
    sink.put(",\"blocks\":");
    DocumentWriter(sink, document.notes).blocks(furniture.blocks);
    sink.put('}');
  }
  sink.put(']');
}

void write_annotations(Sink& sink, const model::Document& document) {
  sink.put('[');
  for (std::size_t i = 0; i < document.annotations.size(); ++i) {
    const model::Annotation& annotation = document.annotations[i];
    if (i > 0) sink.put(',');
    sink.put(annotation.kind == model::AnnotationKind::Memo ? "{\"kind\":\"memo\""
                                                            : "{\"kind\":\"hidden_comment\"");
    sink.put(",\"origin\":");
    write_origin(sink, annotation.origin);
    sink.put(",\"blocks\":");
    DocumentWriter(sink, document.notes).blocks(annotation.blocks);
    sink.put('}');
  }
  sink.put(']');
}

void write_metadata(Sink& sink, const Metadata& metadata) {
  const std::pair<std::string_view, const std::string*> texts[] = {
      {"title", &metadata.title},       {"subject", &metadata.subject},
      {"author", &metadata.author},     {"keywords", &metadata.keywords},
      {"comments", &metadata.comments}, {"last_saved_by", &metadata.last_saved_by},
  };
  const std::pair<std::string_view, const std::optional<UnixMicroseconds>*> times[] = {
      {"created", &metadata.created}, {"modified", &metadata.modified}};
  sink.put('{');
  bool first = true;
  const auto member = [&](std::string_view key, std::string_view value) {
    if (!first) sink.put(',');
    first = false;
    sink.put_string(key);
    sink.put(':');
    sink.put_string(value);
  };
  for (const auto& [key, text] : texts) {
    if (!text->empty()) member(key, *text);
  }
  for (const auto& [key, time] : times) {
    if (time->has_value()) member(key, iso8601_utc(**time));
  }
  sink.put('}');
}

// The embedded pictures, in document order: each one's id, and its format, media type
// and size when the file declares them.
void write_pictures(Sink& sink, const std::vector<model::EmbeddedPicture>& pictures) {
  sink.put('[');
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    if (i > 0) sink.put(',');
    sink.put("{\"id\":");
    sink.put_string(pictures[i].id);
    if (!pictures[i].extension.empty()) {
      sink.put(",\"format\":");
      sink.put_string(pictures[i].extension);
    }
    if (!pictures[i].media_type.empty()) {
      sink.put(",\"media_type\":");
      sink.put_string(pictures[i].media_type);
    }
    if (pictures[i].size) {
      sink.put(",\"size\":");
      sink.put_number(*pictures[i].size);
      if (pictures[i].compressed) sink.put(",\"compressed\":true");
    }
    sink.put('}');
  }
  sink.put(']');
}

void write_warnings(Sink& sink, std::span<const Warning> warnings) {
  sink.put('[');
  for (std::size_t i = 0; i < warnings.size(); ++i) {
    if (i > 0) sink.put(',');
    sink.put(warnings[i].kind == WarningKind::TooLarge ? "{\"kind\":\"too_large\",\"message\":"
                                                       : "{\"kind\":\"damaged\",\"message\":");
    sink.put_string(warnings[i].message);
    sink.put('}');
  }
  sink.put(']');
}

}  // namespace

std::string document_json(std::string_view format, const model::Document& document,
                          const Metadata& metadata, std::span<const Warning> warnings) {
  Sink sink(kOutputLimit);
  sink.put("{\"schema\":\"paravox.document\",\"version\":");
  sink.put_number(kDocumentJsonVersion);
  sink.put(",\"format\":");
  sink.put_string(format);
  sink.put(",\"metadata\":");
  write_metadata(sink, metadata);
  sink.put(",\"warnings\":");
  write_warnings(sink, warnings);
  sink.put(",\"body\":");
  DocumentWriter(sink, document.notes).blocks(document.body);
  write_notes(sink, document, model::NoteKind::Footnote, "footnotes");
  write_notes(sink, document, model::NoteKind::Endnote, "endnotes");
  if (!document.furniture.empty()) {
    sink.put(",\"furniture\":");
    write_furniture(sink, document);
  }
  if (!document.annotations.empty()) {
    sink.put(",\"annotations\":");
    write_annotations(sink, document);
  }
  if (!document.pictures.empty()) {
    sink.put(",\"pictures\":");
    write_pictures(sink, document.pictures);
  }
  sink.put('}');
  return sink.take();
}

}  // namespace paravox
