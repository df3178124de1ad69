#include "hwp/summary.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "record_writer.h"

namespace paravox {
namespace {

using records_test::Payload;
using records_test::put_u16;
using records_test::put_u32;

constexpr std::uint32_t kString16 = 0x1F;
constexpr std::uint32_t kString8 = 0x1E;
constexpr std::uint32_t kFileTime = 0x40;
constexpr std::uint32_t kInteger = 0x03;

// 2023-10-05T03:27:06.042Z as FILETIME ticks and as Unix microseconds.
constexpr std::uint64_t kCreatedTicks = 0x01D9F73BD0AF49A0;
constexpr std::int64_t kCreatedMicroseconds = 1696476426042000;

struct Property {
  std::uint32_t id;
  Payload value;  // type word and data
};

// A UTF-16 string as the word processor writes it: the count includes the NUL, and the
// value is padded to four bytes.
Property text(std::uint32_t id, std::u16string_view value) {
  Payload out;
  put_u32(out, kString16);
  put_u32(out, static_cast<std::uint32_t>(value.size() + 1));
  records_test::put_units(out, value);
  put_u16(out, 0);
  out.resize((out.size() + 3) / 4 * 4, 0);
  return {id, out};
}

Property ascii(std::uint32_t id, std::string_view value) {
  Payload out;
  put_u32(out, kString8);
  put_u32(out, static_cast<std::uint32_t>(value.size() + 1));
  out.insert(out.end(), value.begin(), value.end());
  out.push_back(0);
  out.resize((out.size() + 3) / 4 * 4, 0);
  return {id, out};
}

Property filetime(std::uint32_t id, std::uint64_t ticks) {
  Payload out;
  put_u32(out, kFileTime);
  put_u32(out, static_cast<std::uint32_t>(ticks));
  put_u32(out, static_cast<std::uint32_t>(ticks >> 32));
  return {id, out};
}

Property integer(std::uint32_t id, std::uint32_t value) {
  Payload out;
  put_u32(out, kInteger);
  put_u32(out, value);
  return {id, out};
}

// Offsets in the stream property_set writes: the section starts at 48; its count at 52;
// entry i at 56 + 8 i; the values follow the entries.
constexpr std::size_t kSectionStart = 48;

Payload property_set(const std::vector<Property>& properties) {
  Payload out;
  put_u16(out, 0xFFFE);
  put_u16(out, 0);
  put_u32(out, 0x00020A06);
  out.resize(out.size() + 16, 0);  // class id
  put_u32(out, 1);
  out.resize(out.size() + 16, 0x11);  // format id
  put_u32(out, static_cast<std::uint32_t>(kSectionStart));
  Payload values;
  Payload entries;
  const std::size_t table = 8 + 8 * properties.size();
  for (const Property& property : properties) {
    put_u32(entries, property.id);
    put_u32(entries, static_cast<std::uint32_t>(table + values.size()));
    values.insert(values.end(), property.value.begin(), property.value.end());
  }
  put_u32(out, static_cast<std::uint32_t>(table + values.size()));
  put_u32(out, static_cast<std::uint32_t>(properties.size()));
  out.insert(out.end(), entries.begin(), entries.end());
  out.insert(out.end(), values.begin(), values.end());
  return out;
}

std::vector<Property> every_property() {
  return {
      text(2, u"보고서"),
      text(3, u"  subject  "),
      text(4, u"kim"),
      text(5, u"\r\n\r\n"),  // white space only: absent
      ascii(6, "comments"),
      text(8, u"lee \U0001F600"),
      text(9, u"9, 0, 0, 562 WIN32LEWindows_10"),  // the writing program, not read
      filetime(11, 0),                             // never printed
      filetime(12, kCreatedTicks),
      filetime(13, kCreatedTicks + 10),
      integer(14, 3),
  };
}

std::string dump(const Metadata& m) {
  const auto time = [](const std::optional<UnixMicroseconds>& t) {
    return t ? std::to_string(*t) : std::string("-");
  };
  return "title=" + m.title + " subject=" + m.subject + " author=" + m.author +
         " keywords=" + m.keywords + " comments=" + m.comments +
         " last_saved_by=" + m.last_saved_by + " created=" + time(m.created) +
         " modified=" + time(m.modified);
}

const std::string kEveryProperty =
    "title=보고서 subject=subject author=kim keywords= comments=comments "
    "last_saved_by=lee \U0001F600 created=1696476426042000 modified=1696476426042001";

TEST(SummaryInformation, ReadsEveryPropertyTheMetadataHas) {
  EXPECT_EQ(kCreatedMicroseconds, 1696476426042000);
  EXPECT_EQ(dump(read_summary_information(property_set(every_property()))), kEveryProperty);
}

void put_u32_at(Payload& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

TEST(SummaryInformation, ADamagedFieldLeavesOnlyWhatItHoldsAbsent) {
  struct Case {
    const char* what;
    std::vector<Property> properties;
    std::function<void(Payload&)> damage;
    std::string expected;
  };
  const auto title_and_created = [] { return std::vector{text(2, u"t"), filetime(12, 20)}; };
  const std::string both = "title=t subject= author= keywords= comments= last_saved_by= created=" +
                           std::to_string(2 - 11644473600000000) + " modified=-";
  const std::string none =
      "title= subject= author= keywords= comments= last_saved_by= created=- modified=-";
  const std::vector<Case> cases = {
      {"undamaged", title_and_created(), [](Payload&) {}, both},
      {"byte order", title_and_created(), [](Payload& b) { b[0] = 0xFF; }, none},
      {"section offset past the end", title_and_created(),
       [](Payload& b) { put_u32_at(b, 44, 0xFFFFFFF0); }, none},
      {"section size below its table", title_and_created(),
       [](Payload& b) { put_u32_at(b, kSectionStart, 12); }, none},
      {"section size past the stream", title_and_created(),
       [](Payload& b) { put_u32_at(b, kSectionStart, 0xFFFFFFFF); }, both},
      {"property count far too large", title_and_created(),
       [](Payload& b) { put_u32_at(b, kSectionStart + 4, 0xFFFFFFFF); }, both},
      {"value offset past the section", title_and_created(),
       [](Payload& b) { put_u32_at(b, kSectionStart + 12, 0x7FFFFFFF); },
       "title= subject= author= keywords= comments= last_saved_by= created=" +
           std::to_string(2 - 11644473600000000) + " modified=-"},
      {"string count past the section", title_and_created(),
       [](Payload& b) { put_u32_at(b, kSectionStart + 8 + 16 + 4, 0x80000001); },
       "title= subject= author= keywords= comments= last_saved_by= created=" +
           std::to_string(2 - 11644473600000000) + " modified=-"},
      {"time of the wrong type", title_and_created(),
       [](Payload& b) { put_u32_at(b, kSectionStart + 8 + 16 + 12, kString16); },
       "title=t subject= author= keywords= comments= last_saved_by= created=- modified=-"},
      {"time past the year 9999", {filetime(12, 0xFFFFFFFFFFFFFFFF)}, [](Payload&) {}, none},
      {"8-bit string outside ASCII", {ascii(2, "\xB9\xAE\xBC\xAD")}, [](Payload&) {}, none},
  };
  for (const Case& c : cases) {
    Payload stream = property_set(c.properties);
    c.damage(stream);
    EXPECT_EQ(dump(read_summary_information(stream)), c.expected) << c.what;
  }
}

// Cut anywhere, a stream gives some of its values, each one whole.
TEST(SummaryInformation, AStreamCutAnywhereGivesOnlyWholeValues) {
  const Payload full = property_set(every_property());
  const Metadata whole = read_summary_information(full);
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    const Metadata read = read_summary_information(
        Payload(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)));
    for (const auto field : {&Metadata::title, &Metadata::subject, &Metadata::author,
                             &Metadata::keywords, &Metadata::comments, &Metadata::last_saved_by}) {
      if (!(read.*field).empty()) {
        EXPECT_EQ(read.*field, whole.*field) << "cut at " << cut;
      }
    }
    for (const auto field : {&Metadata::created, &Metadata::modified}) {
      if ((read.*field).has_value()) {
        EXPECT_EQ(read.*field, whole.*field) << "cut at " << cut;
      }
    }
  }
  // The last value, a page count, is not read: a stream cut inside it gives all the others.
  EXPECT_EQ(dump(read_summary_information(Payload(full.begin(), full.end() - 1))), kEveryProperty);
}

}  // namespace
}  // namespace paravox
