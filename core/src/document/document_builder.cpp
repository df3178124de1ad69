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
  model::Paragraph paragraph;
  paragraph.origin = origin;
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

model::Paragraph* add_paragraph_text(std::string_view text, model::Origin origin,
                                     std::vector<model::Block>& blocks, HeldSize& held) {
  if (text.find(kNoteMark) != std::string_view::npos) {
    model::Paragraph paragraph = paragraph_with_references(text, origin);
    held.add(paragraph.text.size() + HeldSize::kPerBlock +
             paragraph.notes.size() * sizeof(model::NoteReference));
    return &std::get<model::Paragraph>(blocks.emplace_back(std::move(paragraph)));
  }
  const std::string_view trimmed = trim_text(text);
  if (trimmed.empty()) return nullptr;
  held.add(trimmed.size() + HeldSize::kPerBlock);
  // Made in place: a paragraph moved into the list costs as much again as one made there.
  auto& paragraph =
      std::get<model::Paragraph>(blocks.emplace_back(std::in_place_type<model::Paragraph>));
  paragraph.text = trimmed;
  paragraph.origin = origin;
  return &paragraph;
}

model::Paragraph* add_finished_paragraph(std::optional<PendingParagraph>& slot,
                                         model::Origin origin, std::vector<model::Block>& blocks,
                                         HeldSize& held) {
  if (!slot) return nullptr;
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

void set_paragraph_head(model::Paragraph& paragraph, const ParagraphHead& head, bool in_cell,
                        HeldSize& held) {
  if (head.heading_level != 0 && !in_cell) {
    paragraph.role = model::ParagraphRole::Heading;
    paragraph.level = head.heading_level;
    if (head.kind != HeadKind::Bullet) paragraph.number = head.text;
  } else if (head.kind != HeadKind::None && !head.text.empty()) {
    paragraph.role = model::ParagraphRole::ListItem;
    paragraph.level = static_cast<std::uint8_t>(head.level - 1);
    (head.kind == HeadKind::Bullet ? paragraph.bullet : paragraph.number) = head.text;
  } else {
    return;
  }
  held.add(head.text.size());
}

model::Block drawing_block(Block drawing, model::Origin origin, HeldSize& held) {
  if (auto* image = std::get_if<Image>(&drawing)) {
    held.add(image->caption.size() + image->item_name.size() + HeldSize::kPerBlock);
    return model::Picture{
        std::move(image->caption), origin, image->item_number, std::move(image->item_name), {}};
  }
  // A drawing object gives a picture or the paragraph of its text.
  Paragraph& text = std::get<Paragraph>(drawing);
  held.add(text.text.size() + HeldSize::kPerBlock);
  model::Paragraph paragraph;
  paragraph.text = std::move(text.text);
  paragraph.origin = origin;
  paragraph.role = model::ParagraphRole::Drawing;
  return paragraph;
}

void add_drawing_text(std::string_view text, model::Origin origin,
                      std::vector<model::Block>& blocks, HeldSize& held) {
  const std::string_view trimmed = trim_text(text);
  if (trimmed.empty()) return;
  held.add(trimmed.size() + HeldSize::kPerBlock);
  model::Paragraph paragraph;
  paragraph.text = trimmed;
  paragraph.origin = origin;
  paragraph.role = model::ParagraphRole::Drawing;
  blocks.emplace_back(std::move(paragraph));
}

model::Block equation_block(std::string_view script, model::Origin origin, HeldSize& held) {
  const std::string_view trimmed = trim_text(script);
  held.add(trimmed.size() + HeldSize::kPerBlock);
  return model::Equation{std::string(trimmed), origin};
}

}  // namespace paravox
