// Collecting the full profile's document (document/model.h) as a reader walks it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "document/block.h"
#include "document/fields.h"
#include "document/model.h"
#include "document/numbering.h"
#include "document/styles.h"
#include "document/warning.h"

namespace paravox {

// Bytes of a document's model: its text, and a fixed cost per block and per cell, counted by
// whoever makes the block or cell. Held under
// kOutputLimit, so that a crafted document (millions of empty cells, say) is refused before
// its model outgrows what any Markdown could be; no real document comes near.
class HeldSize {
 public:
  static constexpr std::size_t kPerBlock = sizeof(model::Block);
  static constexpr std::size_t kPerCell = sizeof(model::Cell);

  // Throws OutputLimitExceeded, counting nothing, when the total would pass kOutputLimit.
  void add(std::size_t bytes) {
    if (bytes > kOutputLimit - held_) throw OutputLimitExceeded{};
    held_ += bytes;
  }
  std::size_t bytes() const noexcept { return held_; }
  void roll_back(std::size_t bytes) noexcept { held_ = bytes; }

 private:
  std::size_t held_ = 0;
};

// A note reference whose note is not known yet: the paragraph's controls, read after its
// text, tell which note each of its marks stands for.
inline constexpr std::uint32_t kUnresolvedNote = 0xFFFFFFFF;

// Adds `text` trimmed as a Paragraph from `origin` to `blocks`, counted in `held` (as every
// function here counts the block it makes), its note marks (kNoteMark) taken out as
// NoteReferences to kUnresolvedNote. Returns the paragraph added, or nullptr when the text is
// blank and holds no mark.
model::Paragraph* add_paragraph_text(std::string_view text, model::Origin origin,
                                     std::vector<model::Block>& blocks, HeldSize& held);

// Empties `slot` and adds its paragraph, fields rendered, as add_paragraph_text does.
model::Paragraph* add_finished_paragraph(std::optional<PendingParagraph>& slot,
                                         model::Origin origin, std::vector<model::Block>& blocks,
                                         HeldSize& held);

// Gives `paragraph` the role, level and number or bullet its `head` shows, its text counted
// in `held`. A paragraph in a table cell (`in_cell`) is never a heading: an outline paragraph
// there is a numbered list item.
void set_paragraph_head(model::Paragraph& paragraph, const ParagraphHead& head, bool in_cell,
                        HeldSize& held);

// Gives the first of `paragraph`'s references still unresolved the note `note`, or, when it
// has none left, adds a reference to it at the end of the text.
void resolve_note_reference(model::Paragraph& paragraph, std::uint32_t note);

// A drawing object's block (a Paragraph of its text or an Image) as the model's Paragraph or
// Picture from `origin`, its text counted in `held`.
model::Block drawing_block(Block drawing, model::Origin origin, HeldSize& held);

// Adds the text of drawing objects `text` (a group's text boxes beside its pictures) trimmed,
// unless blank, as a Paragraph of the Drawing role from `origin` to `blocks`.
void add_drawing_text(std::string_view text, model::Origin origin,
                      std::vector<model::Block>& blocks, HeldSize& held);

// An equation's script, trimmed, as the model's Equation from `origin`, counted in `held`.
model::Block equation_block(std::string_view script, model::Origin origin, HeldSize& held);

// A document's body, block by block, with the origin of each, and the numbering of its
// paragraphs.
class DocumentBuilder {
 public:
  // A document whose definitions are unknown: no paragraph has a head.
  DocumentBuilder() : numbering_(no_styles()) {}
  // `styles` must outlive the builder.
  explicit DocumentBuilder(const DocumentStyles& styles) : numbering_(styles) {}

  // The blocks added from now on come from section `index`, before its first paragraph.
  void start_section(std::uint32_t index) noexcept {
    origin_ = {index, 0};
    paragraphs_ = 0;
  }
  // The section's next top-level paragraph begins.
  void start_paragraph() noexcept { origin_.paragraph = paragraphs_++; }
  model::Origin origin() const noexcept { return origin_; }
  HeldSize& held() noexcept { return held_; }
  std::vector<model::Block>& body() noexcept { return document_.body; }

  // Adds `block`, which whoever made it has counted in held().
  void add(model::Block block) { document_.body.push_back(std::move(block)); }

  // What has been added so far, for a reader that takes back the blocks of a damaged part.
  struct Mark {
    std::size_t blocks = 0;
    std::size_t held = 0;
    std::size_t notes = 0;
    std::size_t furniture = 0;
    std::size_t annotations = 0;
    std::uint32_t footnotes = 0;
    std::uint32_t endnotes = 0;
  };
  Mark mark() const noexcept {
    return {document_.body.size(),
            held_.bytes(),
            document_.notes.size(),
            document_.furniture.size(),
            document_.annotations.size(),
            footnotes_,
            endnotes_};
  }
  void roll_back(const Mark& mark) {
    document_.body.resize(mark.blocks);
    document_.notes.resize(mark.notes);
    document_.furniture.resize(mark.furniture);
    document_.annotations.resize(mark.annotations);
    footnotes_ = mark.footnotes;
    endnotes_ = mark.endnotes;
    held_.roll_back(mark.held);
  }

  // Adds a note of `kind`, referred to from `origin`, and returns its index in the document's
  // notes; its ordinal is the next of its kind. `blocks` were counted by whoever read them.
  std::uint32_t add_note(model::NoteKind kind, model::Origin origin,
                         std::vector<model::Block> blocks);
  void add_furniture(model::Furniture furniture) {
    held_.add(HeldSize::kPerBlock);
    document_.furniture.push_back(std::move(furniture));
  }
  void add_annotation(model::Annotation annotation) {
    held_.add(HeldSize::kPerBlock);
    document_.annotations.push_back(std::move(annotation));
  }
  std::vector<model::Note>& notes() noexcept { return document_.notes; }

  // The numbering every paragraph of the document, body and cells, is given to in reading
  // order.
  ParagraphNumbering& numbering() noexcept { return numbering_; }

  model::Document finish() { return std::move(document_); }

 private:
  static const DocumentStyles& no_styles() {
    static const DocumentStyles none;
    return none;
  }

  model::Document document_;
  ParagraphNumbering numbering_;
  HeldSize held_;
  model::Origin origin_;
  std::uint32_t paragraphs_ = 0;
  std::uint32_t footnotes_ = 0;
  std::uint32_t endnotes_ = 0;
};

// A document's model as a reader built it, and a warning for each part it could not read.
struct DocumentModel {
  model::Document document;
  std::vector<Warning> warnings;
};

}  // namespace paravox
