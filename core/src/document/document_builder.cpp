#include "document/document_builder.h"

#include <algorithm>
#include <string>
#include <utility>
#include <variant>

#include "document/text.h"

namespace paravox {

namespace {

// `text` without its note marks, trimmed, with a reference at each mark's place.
model::Paragraph paragraph_with_references(std::string_view text, model::Origin origin) {
  model::Paragraph paragraph{{}, origin, {}};
  std::string unmarked;
  unmarked.reserve(text.size());
  for (std::size_t at = 0;;) {
    const std::size_t mark = text.find(kNoteMark, at);
    unmarked.append(text.substr(at, mark - at));
    if (mark == std::string_view::npos) break;
    paragraph.notes.push_back({unmarked.size(), kUnresolvedNote});
    at = mark + kNoteMark.size();
  }
  const std::string_view trimmed = trim_text(unmarked);
  const std::size_t lead = static_cast<std::size_t>(trimmed.data() - unmarked.data());
  for (model::NoteReference& reference : paragraph.notes) {
    reference.offset =
        std::min(reference.offset - std::min(reference.offset, lead), trimmed.size());
  }
  paragraph.text = std::string(trimmed);
  return paragraph;
}

}  // namespace

bool add_paragraph_text(std::string_view text, model::Origin origin,
                        std::vector<model::Block>& blocks, HeldSize& held) {
  if (text.find(kNoteMark) != std::string_view::npos) {
    model::Paragraph paragraph = paragraph_with_references(text, origin);
    held.add(paragraph.text.size() + HeldSize::kPerBlock +
             paragraph.notes.size() * sizeof(model::NoteReference));
    blocks.emplace_back(std::move(paragraph));
    return true;
  }
  const std::string_view trimmed = trim_text(text);
  if (trimmed.empty()) return false;
  held.add(trimmed.size() + HeldSize::kPerBlock);
  blocks.emplace_back(model::Paragraph{std::string(trimmed), origin, {}});
  return true;
}

bool add_finished_paragraph(std::optional<PendingParagraph>& slot, model::Origin origin,
                            std::vector<model::Block>& blocks, HeldSize& held) {
  if (!slot) return false;
  PendingParagraph paragraph = std::move(*slot);
  slot.reset();
  if (paragraph.field_texts.empty()) {
    return add_paragraph_text(paragraph.text, origin, blocks, held);
  }
  return add_paragraph_text(substitute_field_markers(paragraph), origin, blocks, held);
}

void resolve_note_reference(model::Paragraph& paragraph, std::uint32_t note) {
  for (model::NoteReference& reference : paragraph.notes) {
    if (reference.note == kUnresolvedNote) {
      reference.note = note;
      return;
    }
  }
  paragraph.notes.push_back({paragraph.text.size(), note});
}

std::uint32_t DocumentBuilder::add_note(model::NoteKind kind, model::Origin origin,
                                        std::vector<model::Block> blocks) {
  held_.add(HeldSize::kPerBlock);
  std::uint32_t& count = kind == model::NoteKind::Footnote ? footnotes_ : endnotes_;
  document_.notes.push_back({kind, ++count, origin, std::move(blocks)});
  return static_cast<std::uint32_t>(document_.notes.size() - 1);
}

model::Block drawing_block(Block drawing, model::Origin origin, HeldSize& held) {
  if (auto* image = std::get_if<Image>(&drawing)) {
    held.add(image->caption.size() + HeldSize::kPerBlock);
    return model::Picture{std::move(image->caption), origin};
  }
  // A drawing object gives a picture or the paragraph of its text.
  Paragraph& text = std::get<Paragraph>(drawing);
  held.add(text.text.size() + HeldSize::kPerBlock);
  return model::Paragraph{std::move(text.text), origin, {}};
}

model::Block equation_block(std::string_view script, model::Origin origin, HeldSize& held) {
  const std::string_view trimmed = trim_text(script);
  held.add(trimmed.size() + HeldSize::kPerBlock);
  return model::Equation{std::string(trimmed), origin};
}

}  // namespace paravox
