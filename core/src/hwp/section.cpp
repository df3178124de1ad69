#include "hwp/section.h"

#include <string>

#include "base/inflate.h"

namespace paravox {

std::string section_stream_path(std::uint32_t index) {
  return "/BodyText/Section" + std::to_string(index);
}

Result<ByteBuffer> read_section_stream(Container& container, std::string_view path,
                                       bool compressed) {
  auto stored = container.read_stream(path);
  if (!stored || !compressed) return stored;
  return inflate_raw(*stored);
}

}  // namespace paravox
