#include "hwp/summary.h"

#include <string_view>

#include "document/text.h"

namespace paravox {
namespace {

// Property-set header: byte order, version, system, class id, section count, then the first
// section's format id and offset.
constexpr std::uint16_t kByteOrder = 0xFFFE;
constexpr std::size_t kFirstSectionOffset = 44;

enum : std::uint32_t {
  kTitle = 2,
  kSubject = 3,
  kAuthor = 4,
  kKeywords = 5,
  kComments = 6,
  kLastSavedBy = 8,
  kCreated = 12,
  kLastSaved = 13,
};

enum : std::uint32_t {
  kString8 = 0x1E,   // u32 byte count with the NUL, bytes in the writer's code page
  kString16 = 0x1F,  // u32 character count with the NUL, UTF-16 (the word processor's)
  kFileTime = 0x40,  // 100-nanosecond ticks since 1601-01-01, UTC
};

// FILETIME ticks from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000;

std::string* text_field(Metadata& metadata, std::uint32_t id) {
  switch (id) {
    case kTitle:
      return &metadata.title;
    case kSubject:
      return &metadata.subject;
    case kAuthor:
      return &metadata.author;
    case kKeywords:
      return &metadata.keywords;
    case kComments:
      return &metadata.comments;
    case kLastSavedBy:
      return &metadata.last_saved_by;
    default:
      return nullptr;
  }
}

std::optional<UnixMicroseconds>* time_field(Metadata& metadata, std::uint32_t id) {
  if (id == kCreated) return &metadata.created;
  if (id == kLastSaved) return &metadata.modified;
  return nullptr;
}

// A string value: UTF-16, or 8-bit text whose code page nothing names (the word processor
// writes no code-page property), read only when it is ASCII.
std::string read_text(ByteCursor value, std::uint32_t type) {
  const std::optional<std::uint32_t> count = value.read_u32();
  if (!count) return {};
  if (type == kString16) {
    if (*count > value.remaining() / 2) return {};
    return decode_utf16(*value.take(std::size_t{*count} * 2));
  }
  const std::optional<Bytes> bytes = value.take(*count);
  if (!bytes) return {};
  std::string text;
  for (const std::uint8_t b : *bytes) {
    if (b == 0) break;
    if (b >= 0x80) return {};
    text.push_back(static_cast<char>(b));
  }
  return text;
}

// A FILETIME; nothing for 0 (never set) or a moment after 9999.
std::optional<UnixMicroseconds> read_time(ByteCursor value) {
  const std::optional<std::uint32_t> low = value.read_u32();
  const std::optional<std::uint32_t> high = value.read_u32();
  if (!low || !high) return std::nullopt;
  const std::uint64_t ticks = (std::uint64_t{*high} << 32) | *low;
  if (ticks == 0) return std::nullopt;
  const std::int64_t microseconds =
      static_cast<std::int64_t>(ticks / 10) - static_cast<std::int64_t>(kUnixEpochTicks / 10);
  if (microseconds > kLatestTime) return std::nullopt;
  return microseconds;
}

}  // namespace

Metadata read_summary_information(Bytes stream) {
  Metadata metadata;
  if (u16_at(stream, 0) != kByteOrder) return metadata;
  const std::optional<std::uint32_t> section_offset = u32_at(stream, kFirstSectionOffset);
  if (!section_offset || *section_offset > stream.size()) return metadata;
  Bytes section = stream.subspan(*section_offset);
  // The section's own size bounds its offsets when it is smaller than what the stream holds.
  const std::optional<std::uint32_t> section_size = u32_at(section, 0);
  const std::optional<std::uint32_t> count = u32_at(section, 4);
  if (!section_size || !count) return metadata;
  if (*section_size < section.size()) section = section.first(*section_size);
  if (section.size() < 8) return metadata;

  ByteCursor entries(section.subspan(8));
  for (std::uint32_t i = 0; i < *count; ++i) {
    const std::optional<std::uint32_t> id = entries.read_u32();
    const std::optional<std::uint32_t> offset = entries.read_u32();
    if (!id || !offset) break;
    if (*offset > section.size()) continue;
    ByteCursor value(section.subspan(*offset));
    const std::optional<std::uint32_t> type = value.read_u32();
    if (!type) continue;
    if (std::string* field = text_field(metadata, *id);
        field != nullptr && (*type == kString16 || *type == kString8)) {
      *field = trim_text(read_text(value, *type));
    } else if (std::optional<UnixMicroseconds>* time = time_field(metadata, *id);
               time != nullptr && *type == kFileTime) {
      *time = read_time(value);
    }
  }
  return metadata;
}

Metadata read_metadata(Container& container) {
  Result<ByteBuffer> stream = container.read_stream("/\005HwpSummaryInformation");
  if (!stream) return {};
  return read_summary_information(stream.value());
}

}  // namespace paravox
