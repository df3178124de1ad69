// The full profile's document: what a reader found, as blocks in reading order, with the
// information a faithful rendering needs. Both readers build it in their one walk; the full
// Markdown writer (document/full_markdown.h) renders it, and so will the writers still to
// come (JSON, the Python Document), which read these blocks, never the Markdown.
//
// How the model grows, so that each addition has its place:
// - Every block carries its Origin: the body section and the top-level paragraph it comes
//   from. Blocks inside a table carry the Origin of the paragraph that anchors the top-level
//   table; the cell they sit in is the Cell that holds them.
// - Paragraph is the unit of text. Headings (level, number text) and list items become
//   properties of a Paragraph, not blocks of their own; footnote and endnote references are
//   NoteReferences at offsets inside its text, pointing at Document.notes, whose own blocks
//   live beside `body`.
// - Headers and footers are a separate layer of the Document (Document.furniture, each with
//   its section), never interleaved with `body`; memos and hidden comments are annotations
//   attached to the paragraph of `body` they stand in.
// - Drawing objects give a Picture (with the binary-data item it shows) or the Paragraph of
//   their text: a group's shapes, nested or not, and text art give theirs in document order,
//   joined by line feeds. The items pictures show are numbered once the walk is over
//   (document/pictures.h) into the Document's `pictures`.
// - Metadata (title, author, dates) is a member of the Document.
// - Cells hold blocks, not a string: paragraphs, equations, pictures and nested tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace paravox::model {

// Where a block comes from: its body section (0, 1, ...) and the index of the section's
// top-level paragraph that holds it or its anchor.
struct Origin {
  std::uint32_t section = 0;
  std::uint32_t paragraph = 0;
};

// A reference to a note where it stands in a paragraph's text: before the byte at `offset`
// (at most the text's size), to the document's note `note` (an index into Document.notes).
struct NoteReference {
  std::size_t offset = 0;
  std::uint32_t note = 0;
};

// What a paragraph is to the document's structure, from its paragraph shape and style.
enum class ParagraphRole : std::uint8_t {
  Body,
  Heading,   // an outline paragraph, or one of an outline style (never inside a table cell)
  ListItem,  // a numbered or bulleted paragraph
  Drawing,   // the text of a drawing object: a text box, a group's shapes, text art
};

// A paragraph's text with its click-here fields rendered, trimmed, and never blank unless it
// holds a note reference. The text of a text box keeps its paragraphs apart with line feeds.
struct Paragraph {
  std::string text;
  Origin origin;
  std::vector<NoteReference> notes;  // by offset
  ParagraphRole role = ParagraphRole::Body;
  // Heading: 1-10; list item: 0 for the first level, 1 for the second, ...; body: 0.
  std::uint8_t level = 0;
  std::string number;  // the number text as shown ("1.", "가)"), empty when none
  std::string bullet;  // a bulleted list item's bullet character, else empty
};

// An equation's script, trimmed (possibly empty).
struct Equation {
  std::string script;
  Origin origin;
};

// A picture drawn in the document; `caption` is its caption's text, possibly empty.
struct Picture {
  std::string caption;
  Origin origin;
  // The binary-data item it shows, as the file names it: a binary picture by the item's place
  // among DocInfo's items, from 1 (0: none); an HWPX one by the manifest id ("image1").
  std::uint16_t item_number = 0;
  std::string item_name;
  // Its entry in Document::pictures ("image1"), once numbered; empty when it shows no
  // embedded item.
  std::string picture;
};

// An embedded item that pictures show, numbered in the order pictures first show it.
struct EmbeddedPicture {
  std::string id;          // "image1", "image2", ...
  std::string extension;   // as stored, lower case: "png"
  std::string media_type;  // HWPX only: "image/png"
  std::size_t item = 0;    // its place in DocumentStyles::binary_data
  // The bytes the file declares for it without its being read, when it declares any: an
  // HWPX entry's inflated size, a binary document's stream size; with `compressed` the
  // stream is deflated and the picture itself larger.
  std::optional<std::uint64_t> size;
  bool compressed = false;
};

struct Table;
using Block = std::variant<Paragraph, Table, Equation, Picture>;

// Where a caption stands beside its table.
enum class CaptionSide : std::uint8_t { Left, Right, Top, Bottom };

struct Cell;

// A table as the file gives it: its declared size and its cells in the order the file lists
// them, each with the address and spans the file gives it. Placing the cells (and deciding
// whether the addresses can be trusted) is table_layout.h's work, so that every writer
// places them alike.
struct Table {
  std::uint16_t row_count = 0;     // declared
  std::uint16_t column_count = 0;  // declared
  // False when the file's own lists disagree, so the addresses are not to be trusted: the
  // cells present are not as many as the rows declare, or a cell has no address.
  bool listing_agrees = true;
  CaptionSide caption_side = CaptionSide::Bottom;
  Origin origin;
  std::vector<Cell> cells;
  std::vector<Block> caption;  // empty when the table has none
};

struct Cell {
  std::uint16_t row = 0;
  std::uint16_t column = 0;
  std::uint16_t row_span = 1;
  std::uint16_t column_span = 1;
  // The row the file lists the cell in (record order: a binary row's declared cell count, an
  // HWPX hp:tr), for a table whose addresses cannot be trusted.
  std::uint32_t listed_row = 0;
  bool header = false;  // marked by the document as a header cell
  std::vector<Block> blocks;
};

enum class NoteKind : std::uint8_t { Footnote, Endnote };

// A footnote or endnote: its kind, its ordinal among the document's notes of that kind (1, 2,
// ... in order of appearance: the word processor's own numbers restart per section or page),
// the origin of the paragraph that refers to it, and its blocks.
struct Note {
  NoteKind kind = NoteKind::Footnote;
  std::uint32_t ordinal = 0;
  Origin origin;
  std::vector<Block> blocks;
};

enum class FurnitureKind : std::uint8_t { Header, Footer };
// The pages a header or footer is drawn on.
enum class Pages : std::uint8_t { Both, Even, Odd };

// A header or footer, as the section that defines it gives it (origin: the paragraph holding
// its control).
struct Furniture {
  FurnitureKind kind = FurnitureKind::Header;
  Pages pages = Pages::Both;
  Origin origin;
  std::vector<Block> blocks;
};

enum class AnnotationKind : std::uint8_t { Memo, HiddenComment };

// A memo or hidden comment: kept beside the body, never part of its text (origin: the
// paragraph it is attached to).
struct Annotation {
  AnnotationKind kind = AnnotationKind::Memo;
  Origin origin;
  std::vector<Block> blocks;
};

// A converted document. Notes are listed in order of appearance of their references, both
// kinds in one list; furniture and annotations in document order.
struct Document {
  std::vector<Block> body;
  std::vector<Note> notes;
  std::vector<Furniture> furniture;
  std::vector<Annotation> annotations;
  std::vector<EmbeddedPicture> pictures;  // filled by number_pictures
};

}  // namespace paravox::model
