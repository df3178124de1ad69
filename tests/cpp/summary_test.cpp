#include "hwp/summary.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "record_writer.h"
#include "styles_dump.h"

namespace paravox {
namespace {

using records_test::Payload;
using records_test::put_u16;
using records_test::put_u32;

struct Property {
  std::uint32_t id;
  Payload value;  // type word and data
};

// A string as the word processor writes one: UTF-16 (type 0x1F) or 8-bit (0x1E), the count
// including the NUL, the value padded to four bytes.
Property text(std::uint32_t id, std::u16string_view value, bool eight_bit = false) {
  Payload out;
  put_u32(out, eight_bit ? 0x1E : 0x1F);
  put_u32(out, static_cast<std::uint32_t>(value.size() + 1));
  for (const char16_t c : value) {
    eight_bit ? out.push_back(static_cast<std::uint8_t>(c)) : put_u16(out, c);
  }
  eight_bit ? out.push_back(0) : put_u16(out, 0);
  out.resize((out.size() + 3) / 4 * 4, 0);
  return {id, out};
}

// A FILETIME (type 0x40), or with another type a 64-bit value of that type.
Property ticks(std::uint32_t id, std::uint64_t value, std::uint32_t type = 0x40) {
  Payload out;
  put_u32(out, type);
  put_u32(out, static_cast<std::uint32_t>(value));
  put_u32(out, static_cast<std::uint32_t>(value >> 32));
  return {id, out};
}

// Byte order, version, system, class id, one section; its format id and offset (48). The
// section: size, count, (id, offset) entries at 56 + 8 i, then the values.
constexpr std::size_t kSection = 48;

Payload property_set(const std::vector<Property>& properties) {
  Payload out;
  put_u32(out, 0xFFFE);
  put_u32(out, 0x00020A06);
  out.resize(24, 0);
  put_u32(out, 1);
  out.resize(44, 0x11);
  put_u32(out, kSection);
  Payload entries, values;
  for (const Property& property : properties) {
    put_u32(entries, property.id);
    put_u32(entries, static_cast<std::uint32_t>(8 + 8 * properties.size() + values.size()));
    values.insert(values.end(), property.value.begin(), property.value.end());
  }
  put_u32(out, static_cast<std::uint32_t>(8 + entries.size() + values.size()));
  put_u32(out, static_cast<std::uint32_t>(properties.size()));
  out.insert(out.end(), entries.begin(), entries.end());
  out.insert(out.end(), values.begin(), values.end());
  return out;
}

void put_u32_at(Payload& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// 2023-10-05T03:27:06.042Z as FILETIME ticks.
constexpr std::uint64_t kCreated = 0x01D9F73BD0AF49A0;

TEST(SummaryInformation, ReadsEveryPropertyAndLeavesOnlyWhatADamagedFieldHoldsAbsent) {
  const std::vector<Property> every = {
      text(2, u"보고서"),
      text(3, u"  subject  "),
      text(4, u"kim"),
      text(5, u"\r\n\r\n"),
      text(6, u"comments", true),
      text(8, u"lee \U0001F600"),
      text(9, u"9, 0, 0, 562 WIN32LEWindows_10"),  // the writing program, not read
      ticks(11, 0),                                // never printed
      ticks(12, kCreated),
      ticks(13, kCreated + 10),
      ticks(14, 3, 0x03),  // a page count
  };
  const std::string all =
      "보고서|subject|kim||comments|lee \U0001F600|1696476426042000|1696476426042001";
  // The title's entry is the first (at 56), its value the first after the 11 entries (at 144).
  const std::string no_title = "|" + all.substr(all.find('|') + 1);
  struct Case {
    const char* what;
    std::function<void(Payload&)> damage;
    std::string expected;
  };
  const std::string none = "||||||-|-";
  const std::vector<Case> cases = {
      {"undamaged", [](Payload&) {}, all},
      {"byte order", [](Payload& b) { b[0] = 0xFF; }, none},
      {"section offset past the end", [](Payload& b) { put_u32_at(b, 44, 0xFFFFFFF0); }, none},
      {"section size below its table", [](Payload& b) { put_u32_at(b, kSection, 12); }, none},
      {"section size past the stream", [](Payload& b) { put_u32_at(b, kSection, ~0u); }, all},
      {"property count far too large", [](Payload& b) { put_u32_at(b, kSection + 4, ~0u); }, all},
      {"value offset past the section", [](Payload& b) { put_u32_at(b, 60, 0x7FFFFFFF); },
       no_title},
      {"string count past the section", [](Payload& b) { put_u32_at(b, 148, 0x80000001); },
       no_title},
      {"cut inside the last value", [](Payload& b) { b.pop_back(); }, all},
  };
  for (const Case& c : cases) {
    Payload stream = property_set(every);
    c.damage(stream);
    EXPECT_EQ(test::dump(read_summary_information(stream)), c.expected) << c.what;
  }
  // Values that are whole but not what the reader takes.
  const std::vector<std::pair<Property, std::string>> refused = {
      {ticks(12, 20, 0x1F), "string where a time belongs"},
      {ticks(2, kCreated), "time where a string belongs"},
      {ticks(12, ~std::uint64_t{0}), "time past the year 9999"},
      {text(2, u"\xB9\xAE\xBC\xAD", true), "8-bit string outside ASCII"},
  };
  for (const auto& [property, what] : refused) {
    EXPECT_EQ(test::dump(read_summary_information(property_set({property}))), none) << what;
  }
}

}  // namespace
}  // namespace paravox
