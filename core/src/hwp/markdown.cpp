#include "hwp/markdown.h"

#include <string_view>
#include <type_traits>

#include "hwp/error.h"
#include "hwp/table.h"
#include "hwp/text.h"

namespace paravox {
namespace {

constexpr std::string_view kParagraphEnd = "\n\n";
constexpr std::string_view kEquationOpen = "$$\n";
constexpr std::string_view kEquationClose = "\n$$\n\n";
constexpr std::string_view kImageOpen = "[이미지: ";
constexpr std::string_view kImageClose = "]\n\n";
constexpr std::string_view kImageWithoutCaption = "[이미지]\n\n";

}  // namespace

std::uint64_t assembled_size(const Block& block) noexcept {
  return std::visit(
      [](const auto& content) -> std::uint64_t {
        using Content = std::decay_t<decltype(content)>;
        if constexpr (std::is_same_v<Content, Paragraph>) {
          const std::string_view trimmed = trim_text(content.text);
          return trimmed.empty() ? 0 : trimmed.size() + kParagraphEnd.size();
        } else if constexpr (std::is_same_v<Content, Equation>) {
          return kEquationOpen.size() + trim_text(content.script).size() + kEquationClose.size();
        } else if constexpr (std::is_same_v<Content, Image>) {
          if (content.caption.empty()) return kImageWithoutCaption.size();
          return kImageOpen.size() + content.caption.size() + kImageClose.size();
        } else {
          return rendered_table_size(content);
        }
      },
      block);
}

ConvertError markdown_too_large() {
  return ConvertError::parse("Markdown output exceeds " + std::to_string(kOutputLimit) + " bytes");
}

void account_blocks(std::span<const Block> blocks, std::uint64_t& output_size) {
  for (const Block& block : blocks) {
    const std::uint64_t size = assembled_size(block);
    if (output_size > kOutputLimit || size > kOutputLimit - output_size) {
      throw OutputLimitExceeded{};
    }
    output_size += size;
  }
}

void append_blocks(std::span<const Block> blocks, std::string& out) {
  // Sizing first means the ceiling is met before anything is written, and the text grows
  // by one allocation at most.
  std::uint64_t total = out.size();
  for (const Block& block : blocks) {
    total += assembled_size(block);
    if (total > kOutputLimit) throw OutputLimitExceeded{};
  }
  out.reserve(static_cast<std::size_t>(total));

  for (const Block& block : blocks) {
    if (const auto* paragraph = std::get_if<Paragraph>(&block)) {
      const std::string_view trimmed = trim_text(paragraph->text);
      if (trimmed.empty()) continue;
      out += trimmed;
      out += kParagraphEnd;
    } else if (const auto* equation = std::get_if<Equation>(&block)) {
      out += kEquationOpen;
      out += trim_text(equation->script);
      out += kEquationClose;
    } else if (const auto* image = std::get_if<Image>(&block)) {
      if (image->caption.empty()) {
        out += kImageWithoutCaption;
      } else {
        out += kImageOpen;
        out += image->caption;
        out += kImageClose;
      }
    } else {
      // Measured with the other blocks above.
      render_measured_table(std::get<Table>(block), out);
    }
  }
}

void trim_trailing_white_space(std::string& out) {
  // trim_text's back end is exactly where the trailing white space starts.
  const std::string_view kept = trim_text(out);
  if (kept.empty()) {
    out.clear();
    return;
  }
  out.resize(static_cast<std::size_t>(kept.data() + kept.size() - out.data()));
}

std::string assemble_markdown(std::span<const Block> blocks) {
  std::string out;
  append_blocks(blocks, out);
  trim_trailing_white_space(out);
  return out;
}

}  // namespace paravox
