// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include "update/CheckDate.h"

namespace quillo::test {
namespace {

// 1 March 2027 is day 46447 after 30 December 1899.
constexpr TDateTime kFirstMarch2027 = 46447;

TEST(CheckDateTest, WritesTheCalendarDayAndReadsItBackAsMidnight) {
  struct Case {
    TDateTime Moment;
    const char* Text;
  };
  const Case cases[] = {
      {kFirstMarch2027, "2027-03-01"},
      {kFirstMarch2027 + 0.99, "2027-03-01"},
      {kFirstMarch2027 - 1, "2027-02-28"},
      {2, "1900-01-01"},
      {36526.25, "2000-01-01"},
      {36585, "2000-02-29"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatCheckDate(c.Moment), c.Text) << c.Moment;
    EXPECT_EQ(ParseCheckDate(c.Text), TDateTime(int(c.Moment))) << c.Text;
  }
}

TEST(CheckDateTest, OtherTextsAreNoDate) {
  for (const char* text : {"", "2027-3-1", "01/03/2027", "2027-02-29", "2027-13-01", "2027-00-10",
                           "2027-03-01 ", "46447", "yyyy-MM-dd", "+027-03-01"}) {
    EXPECT_FALSE(ParseCheckDate(text).has_value()) << text;
  }
}

} // namespace
} // namespace quillo::test
