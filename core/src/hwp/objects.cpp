#include "hwp/objects.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "document/text.h"
#include "hwp/text.h"

namespace paravox {
namespace {

// EQEDIT: 4 bytes not read, u16 script length in code units, then the script.
constexpr std::size_t kEquationLengthOffset = 4;
constexpr std::size_t kEquationScriptOffset = 6;
// A picture record counts only when it holds its binary-data id, a u16 at offset 71: the
// item's place among DocInfo's binary-data records, from 1 (not the number its stream is
// named by, which real documents give in another order).
constexpr std::size_t kPictureItemOffset = 71;

// Index of the first record at or after `from` whose level is at most `level`.
std::size_t subtree_end(Records records, std::size_t from, std::uint16_t level) noexcept {
  std::size_t e = from;
  while (e < records.size() && records[e].level > level) ++e;
  return e;
}

// The script of an EQEDIT payload, or nothing when it is absent, cut short or undecodable.
std::optional<std::string> read_equation_script(Bytes payload) {
  const auto units = u16_at(payload, kEquationLengthOffset);
  if (!units || *units == 0) return std::nullopt;
  const std::size_t script_bytes = std::size_t{*units} * 2;
  if (payload.size() - kEquationScriptOffset < script_bytes) return std::nullopt;
  return decode_utf16_strict(payload.subspan(kEquationScriptOffset, script_bytes));
}

// Decoded, trimmed text of a PARA_TEXT record inside a drawing object, appended unless empty.
void collect_object_text(const Record& record, std::vector<std::string>& texts) {
  const std::string decoded = decode_para_text_plain(record.data());
  const std::string_view trimmed = trim_text(decoded);
  if (!trimmed.empty()) texts.emplace_back(trimmed);
}

std::string join(const std::vector<std::string>& texts, char separator) {
  std::size_t length = texts.empty() ? 0 : texts.size() - 1;
  for (const std::string& text : texts) length += text.size();
  std::string out;
  out.reserve(length);
  for (const std::string& text : texts) {
    if (!out.empty()) out += separator;
    out += text;
  }
  return out;
}

}  // namespace

std::uint32_t control_id(const Record& record) noexcept {
  return u32_at(record.data(), 0).value_or(0);
}

std::size_t skip_control(Records records, std::size_t start, std::uint16_t level) noexcept {
  return subtree_end(records, start, level) - start;
}

EquationResult convert_equation(Records records, std::size_t start, std::uint16_t level) {
  const std::size_t n = records.size();
  for (std::size_t j = start; j < n; ++j) {
    const Record& record = records[j];
    if (record.level <= level) return {std::nullopt, j - start};
    if (record.level == level + 1 && record.tag_id == tag::kEqEdit) {
      std::optional<std::string> script = read_equation_script(record.data());
      return {std::move(script), subtree_end(records, j + 1, level) - start};
    }
  }
  return {std::nullopt, start < n ? n - start : 0};
}

DrawingResult convert_drawing_object(Records records, std::size_t start, std::uint16_t level) {
  const std::size_t n = records.size();
  if (start >= n) return {};

  std::vector<std::string> caption;
  std::size_t j = start;
  for (; j < n && records[j].level > level; ++j) {
    const Record& record = records[j];
    if (record.level == level + 1 && record.tag_id == tag::kShapeComponent) break;
    if (record.tag_id == tag::kParaText) collect_object_text(record, caption);
  }
  if (j >= n || records[j].level <= level) return {std::nullopt, j - start, {}};

  std::vector<std::string> contents;
  std::optional<std::uint16_t> picture_item;
  std::size_t k = j + 1;
  for (; k < n && records[k].level > level; ++k) {
    const Record& record = records[k];
    if (record.tag_id == tag::kParaText) {
      collect_object_text(record, contents);
    } else if (record.tag_id == tag::kShapeComponentPicture) {
      // The last picture record decides, so a short one clears an earlier mark.
      picture_item = u16_at(record.data(), kPictureItemOffset);
    }
  }

  DrawingResult result;
  result.consumed = k - start;
  if (picture_item) {
    result.block = Image{join(caption, ' '), *picture_item};
    result.text_beside_picture = join(contents, '\n');
  } else if (!contents.empty()) {
    result.block = Paragraph{join(contents, '\n')};
  } else if (!caption.empty()) {
    result.block = Paragraph{join(caption, ' ')};
  }
  return result;
}

void add_drawing_blocks(DrawingResult& drawing, model::Origin origin,
                        std::vector<model::Block>& blocks, HeldSize& held) {
  blocks.push_back(drawing_block(std::move(*drawing.block), origin, held));
  add_drawing_text(drawing.text_beside_picture, origin, blocks, held);
}

}  // namespace paravox
