#include "document/document_builder.h"

#include <string>
#include <utility>
#include <variant>

#include "document/text.h"

namespace paravox {

void add_paragraph_text(std::string_view text, model::Origin origin,
                        std::vector<model::Block>& blocks, HeldSize& held) {
  const std::string_view trimmed = trim_text(text);
  if (trimmed.empty()) return;
  held.add(trimmed.size() + HeldSize::kPerBlock);
  blocks.emplace_back(model::Paragraph{std::string(trimmed), origin});
}

void add_finished_paragraph(std::optional<PendingParagraph>& slot, model::Origin origin,
                            std::vector<model::Block>& blocks, HeldSize& held) {
  if (!slot) return;
  PendingParagraph paragraph = std::move(*slot);
  slot.reset();
  if (paragraph.field_texts.empty()) {
    add_paragraph_text(paragraph.text, origin, blocks, held);
  } else {
    add_paragraph_text(substitute_field_markers(paragraph), origin, blocks, held);
  }
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
  return model::Paragraph{std::move(text.text), origin};
}

model::Block equation_block(std::string_view script, model::Origin origin, HeldSize& held) {
  const std::string_view trimmed = trim_text(script);
  held.add(trimmed.size() + HeldSize::kPerBlock);
  return model::Equation{std::string(trimmed), origin};
}

}  // namespace paravox
