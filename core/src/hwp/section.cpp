#include "hwp/section.h"

#include <string>
#include <utility>

#include "base/inflate.h"

namespace paravox {

std::string section_stream_path(std::uint32_t index) {
  return "/BodyText/Section" + std::to_string(index);
}

Result<Inflated> read_section_stream(Container& container, std::string_view path, bool compressed) {
  Result<ByteBuffer> stored = container.read_stream(path);
  if (!stored) return std::move(stored).error();
  if (!compressed) return Inflated{std::move(stored.value())};
  return inflate_raw_stream(stored.value());
}

}  // namespace paravox
