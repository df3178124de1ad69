#include "document/pictures.h"

#include <cstdint>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <variant>
#include <vector>

namespace paravox {
namespace {

// Longest extension kept; real ones are three or four letters.
constexpr std::size_t kMaxExtension = 16;

// A stored extension as a file name may end in: lower case, letters and digits only (the
// file's own text must not make a name that leaves its folder), or none.
std::string file_extension(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const bool digit = c >= '0' && c <= '9';
    const bool lower = c >= 'a' && c <= 'z';
    const bool upper = c >= 'A' && c <= 'Z';
    if (!digit && !lower && !upper) return {};
    out.push_back(upper ? static_cast<char>(c + ('a' - 'A')) : c);
  }
  if (out.size() > kMaxExtension) return {};
  return out;
}

class PictureNumbering {
 public:
  PictureNumbering(model::Document& document, const std::vector<BinaryDataItem>& items)
      : document_(document), items_(items) {}

  // The whole document: a section's headers and footers before its first block, as they are
  // written, and each note's blocks after the paragraph that first refers to it.
  void document() {
    noted_.assign(document_.notes.size(), false);
    std::vector<model::Furniture>& furniture = document_.furniture;
    std::size_t next = 0;
    for (model::Block& block : document_.body) {
      const std::uint32_t section =
          std::visit([](const auto& content) { return content.origin.section; }, block);
      for (; next < furniture.size() && furniture[next].origin.section <= section; ++next) {
        blocks(furniture[next].blocks);
      }
      this->block(block);
    }
    for (; next < furniture.size(); ++next) blocks(furniture[next].blocks);
    for (std::size_t note = 0; note < noted_.size(); ++note) notes_of(note);
  }

 private:
  void blocks(std::vector<model::Block>& blocks) {
    for (model::Block& block : blocks) this->block(block);
  }

  void block(model::Block& block) {
    std::visit(
        [this](auto& content) {
          using Content = std::decay_t<decltype(content)>;
          if constexpr (std::is_same_v<Content, model::Picture>) {
            picture(content);
          } else if constexpr (std::is_same_v<Content, model::Table>) {
            table(content);
          } else if constexpr (std::is_same_v<Content, model::Paragraph>) {
            for (const model::NoteReference& reference : content.notes) notes_of(reference.note);
          }
        },
        block);
  }

  // The blocks of note `note`, once.
  void notes_of(std::size_t note) {
    if (note >= noted_.size() || noted_[note]) return;
    noted_[note] = true;
    blocks(document_.notes[note].blocks);
  }

  void table(model::Table& table) {
    const bool caption_first = table.caption_side == model::CaptionSide::Top ||
                               table.caption_side == model::CaptionSide::Left;
    if (caption_first) blocks(table.caption);
    for (model::Cell& cell : table.cells) blocks(cell.blocks);
    if (!caption_first) blocks(table.caption);
  }

  void picture(model::Picture& picture) {
    const std::optional<std::size_t> item = shown_item(picture, items_);
    if (!item) return;
    const auto [at, added] = numbers_.try_emplace(*item, document_.pictures.size());
    if (added) {
      const BinaryDataItem& shown = items_[*item];
      document_.pictures.push_back(model::EmbeddedPicture{
          "image" + std::to_string(document_.pictures.size() + 1), file_extension(shown.extension),
          shown.media_type, *item, std::nullopt, false});
    }
    picture.picture = document_.pictures[at->second].id;
  }

  model::Document& document_;
  const std::vector<BinaryDataItem>& items_;
  std::unordered_map<std::size_t, std::size_t> numbers_;  // item's place -> picture's
  std::vector<bool> noted_;                               // each note: numbered already
};

}  // namespace

std::optional<std::size_t> shown_item(const model::Picture& picture,
                                      const std::vector<BinaryDataItem>& items) {
  std::optional<std::size_t> place;
  if (picture.item_number > 0) {
    if (picture.item_number <= items.size()) place = picture.item_number - std::size_t{1};
  } else if (!picture.item_name.empty()) {
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items[i].name == picture.item_name) {
        place = i;
        break;
      }
    }
  }
  if (!place) return std::nullopt;
  const BinaryDataItem& item = items[*place];
  if (item.kind == BinaryDataKind::Link || item.path.empty()) return std::nullopt;
  return place;
}

void number_pictures(model::Document& document, const std::vector<BinaryDataItem>& items) {
  document.pictures.clear();
  PictureNumbering(document, items).document();
}

std::string picture_file_name(const model::EmbeddedPicture& picture) {
  if (picture.extension.empty()) return picture.id;
  return picture.id + "." + picture.extension;
}

}  // namespace paravox
