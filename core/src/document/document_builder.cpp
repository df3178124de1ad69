#include "document/document_builder.h"

#include <string>
#include <utility>
#include <variant>

#include "document/text.h"

namespace paravox {

model::Paragraph* add_paragraph_text(std::string_view text, model::Origin origin,
                                     std::vector<model::Block>& blocks, HeldSize& held) {
  const std::string_view trimmed = trim_text(text);
  if (trimmed.empty()) return nullptr;
  held.add(trimmed.size() + HeldSize::kPerBlock);
  model::Paragraph paragraph;
  paragraph.text = trimmed;
  paragraph.origin = origin;
  return &std::get<model::Paragraph>(blocks.emplace_back(std::move(paragraph)));
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
  return paragraph;
}

model::Block equation_block(std::string_view script, model::Origin origin, HeldSize& held) {
  const std::string_view trimmed = trim_text(script);
  held.add(trimmed.size() + HeldSize::kPerBlock);
  return model::Equation{std::string(trimmed), origin};
}

}  // namespace paravox
