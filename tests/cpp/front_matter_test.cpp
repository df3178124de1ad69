// Front matter: times written back as the civil moments they were read from, and the block's
// shape around the values present.
#include <gtest/gtest.h>

#include <string>

#include "document/front_matter.h"

namespace paravox {
namespace {

TEST(FrontMatter, TimesAreWrittenAsTheCivilMomentsTheyCameFrom) {
  struct Case {
    int year, month, day, hour, minute, second, microsecond;
    const char* written;
  };
  const Case cases[] = {
      {1970, 1, 1, 0, 0, 0, 0, "1970-01-01T00:00:00Z"},
      {1969, 12, 31, 23, 59, 59, 0, "1969-12-31T23:59:59Z"},
      {2000, 2, 29, 12, 0, 0, 0, "2000-02-29T12:00:00Z"},
      {2024, 5, 1, 9, 30, 0, 250000, "2024-05-01T09:30:00.250000Z"},
      {1, 1, 1, 0, 0, 0, 0, "0001-01-01T00:00:00Z"},
      {9999, 12, 31, 23, 59, 59, 999999, "9999-12-31T23:59:59.999999Z"},
  };
  for (const Case& c : cases) {
    const auto time =
        unix_microseconds(c.year, c.month, c.day, c.hour, c.minute, c.second, c.microsecond);
    ASSERT_TRUE(time.has_value()) << c.written;
    EXPECT_EQ(iso8601_utc(*time), c.written);
  }
}

TEST(FrontMatter, HoldsThePresentValuesOnly) {
  Metadata metadata;
  EXPECT_EQ(with_front_matter(metadata, "body"), "body");
  metadata.author = "A\x7F\tB";
  metadata.modified = 0;
  EXPECT_EQ(with_front_matter(metadata, "body"),
            "---\nauthor: \"A\\u007F\\tB\"\nmodified: 1970-01-01T00:00:00Z\n---\n\nbody");
  EXPECT_EQ(with_front_matter(metadata, ""),
            "---\nauthor: \"A\\u007F\\tB\"\nmodified: 1970-01-01T00:00:00Z\n---");
}

}  // namespace
}  // namespace paravox
