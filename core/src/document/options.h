// How a document is converted: the choices the front door hands to the readers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace paravox {

// What the output holds.
enum class Profile : std::uint8_t {
  // Exactly what `_paravox` gives for a binary document: cells in record order, nested tables
  // folded into their cells' text, equations and drawing objects inside cells left out.
  Minimal,
  // Tables as the document draws them (document/full_markdown.h), built from the document
  // model (document/model.h).
  Full,
};

// "minimal" or "full".
std::string_view profile_name(Profile profile) noexcept;

// The profile named `name`, or nothing for any other name.
std::optional<Profile> profile_named(std::string_view name) noexcept;

struct ConvertOptions {
  Profile profile = Profile::Full;
  // A document of which a part could not be read fails, with its first warning's message
  // (Damaged or TooLarge by the warning's kind), instead of converting without that part.
  // The front door's choice: the readers report what they could not read either way.
  bool strict = false;
  // The full profile writes each distinct header and footer once, at the start of the
  // section that defines it; without this they stay in the model only.
  bool headers_footers = false;
  // Full profile: when not empty, each embedded picture is written as a link to its file in
  // this folder, ![caption](FOLDER/image1.png), instead of a placeholder (render_markdown).
  std::string picture_links;
  // The document's metadata as YAML front matter above the Markdown (document/front_matter.h).
  bool front_matter = false;
};

}  // namespace paravox
