// Dates typed as text: both printed forms read back, offsets move the instant, and anything
// that names no real second is refused.
#include "platform/foundation/DateText.h"

#include <gtest/gtest.h>

using platform::parseDate;

TEST(DateTextTest, DatesReadBackFromTheFormsTheProgramPrints) {
  for (const char* printed : {"2024-01-02 03:04:05 +0000", "1969-12-31 23:59:59 +0000",
                              "2000-02-29 12:00:00 +0000", "9999-12-31 23:59:59 +0000"}) {
    const auto date = parseDate(printed);
    ASSERT_TRUE(date) << printed;
    EXPECT_EQ(date->description(), printed);
  }
  EXPECT_EQ(parseDate("2024-01-02T03:04:05Z")->dateValue(),
            parseDate("2024-01-02 03:04:05 +0000")->dateValue());
  EXPECT_EQ(parseDate("2024-01-02 04:34:05 +0130")->dateValue(),
            parseDate("2024-01-02 03:04:05 +0000")->dateValue());
  EXPECT_EQ(parseDate("2024-01-01 23:04:05 -0400")->dateValue(),
            parseDate("2024-01-02T03:04:05Z")->dateValue());
  EXPECT_EQ(parseDate("2001-01-01T00:00:00Z")->dateValue(), 0.0);
  for (const char* wrong :
       {"2023-02-29 00:00:00 +0000", "2024-01-02 24:00:00 +0000", "2024-01-02 03:04:05",
        "2024-01-02T03:04:05", "2024-01-02 03:04:05 +2400", "2024-01-02 03:04:05 +0000 ",
        "2024-1-02T03:04:05Z", "2024-01-02T03:04:05+0000", ""}) {
    EXPECT_FALSE(parseDate(wrong)) << wrong;
  }
}
