// Dates as pages write and read them, and the ISO storage form.
#include <gtest/gtest.h>

#include "core/clock.h"

namespace desk {
namespace {

const DateTime kNoon{2006, 12, 3, 15, 30, 45};

TEST(Regional, PatternsWriteEachFieldOnce) {
  Regional r;
  EXPECT_EQ(r.date(kNoon), "2006-12-3");
  EXPECT_EQ(r.time(kNoon), "15:30:45");
  EXPECT_EQ(r.date_time({2007, 1, 9, 8, 5, 7}), "2007-1-9 08:05:07");

  struct Case {
    const char* pattern;
    const char* date;
  } cases[] = {
      {"y/mm/dd", "2006/12/03"},
      {"yyyy-mm-dd", "2006-12-03"},
      {"yyyy年m月d日", "2006年12月3日"},
      {"dd.mm.yy", "03.12.06"},
      {"mm/dd/yyyy", "12/03/2006"},
      {"HH:MM:SS", "15:30:45"},
      {"H时M分", "15时30分"},
      {"--", "--"},
  };
  for (const auto& c : cases) {
    r.date_pattern = c.pattern;
    EXPECT_EQ(r.date(kNoon), c.date) << c.pattern;
  }
  r.date_pattern = "y-mm-dd";
  EXPECT_EQ(r.date({2006, 2, 5}), "2006-02-05");
  r.date_pattern = "y-m-d";
  EXPECT_EQ(r.date({2006, 2, 5}), "2006-2-5");
}

TEST(Regional, ShownWritesStoredValuesInTheRegionalFormat) {
  Regional r;
  EXPECT_EQ(r.shown("2006-12-03 15:30:45"), "2006-12-3 15:30:45");
  EXPECT_EQ(r.shown("2006-12-03"), "2006-12-3");
  EXPECT_EQ(r.shown("08:05:00"), "08:05:00");
  r.time_pattern = "H时M分";
  EXPECT_EQ(r.shown("08:05:00"), "08时05分");
  // Anything that is not a stored value is shown as it is.
  EXPECT_EQ(r.shown("下周一"), "下周一");
  EXPECT_EQ(r.shown("2006-13-03"), "2006-13-03");
  EXPECT_EQ(r.shown("25:00:00"), "25:00:00");
  EXPECT_EQ(r.shown(""), "");
}

TEST(Regional, ParseDateTakesTheCommonForms) {
  DateTime d;
  ASSERT_TRUE(Regional::parse_date("2006-12-3", d));
  EXPECT_EQ(d.iso(), "2006-12-03 00:00:00");
  ASSERT_TRUE(Regional::parse_date(" 2006/12/03 ", d));
  EXPECT_EQ(d.iso_date(), "2006-12-03");
  ASSERT_TRUE(Regional::parse_date("2006.1.31", d));
  EXPECT_EQ(d.iso_date(), "2006-01-31");
  ASSERT_TRUE(Regional::parse_date("2006-12-03 10:05:09", d));
  EXPECT_EQ(d.iso(), "2006-12-03 10:05:09");
  ASSERT_TRUE(Regional::parse_date("2006-12-03 10:05", d));
  EXPECT_EQ(d.iso(), "2006-12-03 10:05:00");
  ASSERT_TRUE(Regional::parse_date("2004-2-29", d));

  DateTime kept = kNoon;
  for (const char* bad :
       {"", "abc", "2006-12/03", "2006 12 03", "2006-2-29", "1900-02-29", "2006-13-01",
        "2006-04-31", "2006-0-10", "2006-12-03 25:00", "2006-12-03 10", "2006-12-03x", "12/03"}) {
    EXPECT_FALSE(Regional::parse_date(bad, kept)) << bad;
  }
  EXPECT_EQ(kept.iso(), kNoon.iso());  // untouched on failure
}

TEST(DateTime, IsoFormsRoundTripAndAreValidated) {
  EXPECT_EQ(kNoon.iso(), "2006-12-03 15:30:45");
  EXPECT_EQ((DateTime{2006, 1, 2, 3, 4, 5}.iso()), "2006-01-02 03:04:05");
  EXPECT_EQ(kNoon.iso_time(), "15:30:45");
  EXPECT_EQ(kNoon.minutes_of_day(), 15 * 60 + 30);

  DateTime d;
  ASSERT_TRUE(DateTime::parse_iso("2006-12-03 15:30:45", d));
  EXPECT_EQ(d.iso(), "2006-12-03 15:30:45");
  ASSERT_TRUE(DateTime::parse_iso("2006-12-03", d));
  EXPECT_EQ(d.iso(), "2006-12-03 00:00:00");
  ASSERT_TRUE(DateTime::parse_iso("2000-02-29 23:59:59", d));
  ASSERT_TRUE(DateTime::parse_iso("2004-02-29", d));

  DateTime kept = kNoon;
  for (const char* bad : {"", "2006-02-29", "1900-02-29", "2100-02-29 00:00:00", "2006-12-3",
                          "2006-12-03 15:30", "2006-12-03 24:00:00", "2006-12-03 23:60:00",
                          "2006-12-03 23:59:60", "2006-12-32", "2006-00-10", "2006-12-03 15:30:45x",
                          "2006-12-03T15:30:45", "2006-12-03 ", "0000-01-01", "garbage"}) {
    EXPECT_FALSE(DateTime::parse_iso(bad, kept)) << bad;
  }
  EXPECT_EQ(kept.iso(), kNoon.iso());
}

}  // namespace
}  // namespace desk
