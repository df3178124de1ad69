#include "document/options.h"

namespace paravox {

std::string_view profile_name(Profile profile) noexcept {
  return profile == Profile::Minimal ? "minimal" : "full";
}

std::optional<Profile> profile_named(std::string_view name) noexcept {
  for (const Profile profile : {Profile::Minimal, Profile::Full}) {
    if (name == profile_name(profile)) return profile;
  }
  return std::nullopt;
}

}  // namespace paravox
