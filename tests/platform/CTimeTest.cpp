#include "platform/mfc/CTime.h"

#include <cstdlib>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "support/ScopedEnv.h"

namespace {

void ExpectFields(const CTime& t, int y, int mo, int d, int h, int mi, int s) {
  EXPECT_EQ(t.GetYear(), y);
  EXPECT_EQ(t.GetMonth(), mo);
  EXPECT_EQ(t.GetDay(), d);
  EXPECT_EQ(t.GetHour(), h);
  EXPECT_EQ(t.GetMinute(), mi);
  EXPECT_EQ(t.GetSecond(), s);
}

TEST(CTimeTest, FieldsRoundTripInLocalTime) {
  for (const char* tz : {"UTC0", "CST-8", "EST5EDT,M3.2.0,M11.1.0"}) {
    SCOPED_TRACE(tz);
    ScopedEnv zone("TZ", tz);
    CTime t(1990, 1, 1, 0, 0, 0);
    ExpectFields(t, 1990, 1, 1, 0, 0, 0);
    EXPECT_EQ(t.GetDayOfWeek(), 2);  // Monday

    struct tm tm = {};
    tm.tm_year = 90;
    tm.tm_mday = 1;
    tm.tm_isdst = -1;
    EXPECT_EQ(t.GetTime(), mktime(&tm));

    CTime u(2021, 7, 4, 23, 59, 58);
    ExpectFields(u, 2021, 7, 4, 23, 59, 58);
    EXPECT_EQ(u.GetDayOfWeek(), 1);  // Sunday
    EXPECT_EQ(CTime(u.GetTime()), u);
  }

  ScopedEnv utc("TZ", "UTC0");
  EXPECT_EQ(CTime(1990, 1, 1, 0, 0, 0).GetTime(), 631152000);
  // Outside the 32-bit range on both sides.
  EXPECT_EQ(CTime(1960, 1, 1, 0, 0, 0).GetTime(), -315619200);
  EXPECT_EQ(CTime(2100, 1, 1, 0, 0, 0).GetTime(), 4102444800);
  ExpectFields(CTime(4102444800), 2100, 1, 1, 0, 0, 0);
  ExpectFields(CTime(), 1970, 1, 1, 0, 0, 0);
  EXPECT_EQ(CTime().GetDayOfWeek(), 5);  // Thursday
  ScopedEnv china("TZ", "CST-8");
  EXPECT_EQ(CTime(1990, 1, 1, 0, 0, 0).GetTime(), 631152000 - 8 * 3600);
}

TEST(CTimeTest, DaylightSavingFlagIsPassedToMktime) {
  ScopedEnv zone("TZ", "EST5EDT,M3.2.0,M11.1.0");
  const time_t noonEdt = 1625155200;  // 2021-07-01 16:00 UTC
  EXPECT_EQ(CTime(2021, 7, 1, 12, 0, 0).GetTime(), noonEdt);
  EXPECT_EQ(CTime(2021, 7, 1, 12, 0, 0, 1).GetTime(), noonEdt);
  CTime standard(2021, 7, 1, 12, 0, 0, 0);  // noon EST is 13:00 EDT
  EXPECT_EQ(standard.GetTime(), noonEdt + 3600);
  EXPECT_EQ(standard.GetHour(), 13);

  // The spring-forward day is 23 hours long.
  EXPECT_EQ(CTime(2021, 3, 15, 0, 0, 0) - CTime(2021, 3, 14, 0, 0, 0), 23 * 3600);
  EXPECT_EQ(CTime(2021, 3, 16, 0, 0, 0) - CTime(2021, 3, 15, 0, 0, 0), 24 * 3600);
}

TEST(CTimeTest, FormatArithmeticAndComparison) {
  ScopedEnv zone("TZ", "UTC0");
  const CTime t(1990, 1, 1, 8, 5, 9);
  EXPECT_EQ(t.Format("%Y-%m-%d %H:%M:%S %a"), "1990-01-01 08:05:09 Mon");
  std::string fmt, expected;
  for (int i = 0; i < 300; ++i) {
    fmt += "%Y|";
    expected += "1990|";
  }
  EXPECT_EQ(t.Format(fmt.c_str()).str(), expected);
  EXPECT_TRUE(t.Format("").IsEmpty());
  EXPECT_TRUE(t.Format(nullptr).IsEmpty());

  const CTime later(1990, 1, 2, 8, 5, 9);
  CTimeSpan span = later - t;
  EXPECT_EQ(span, 86400);
  EXPECT_EQ(t - later, -86400);
  EXPECT_EQ(t + span, later);
  EXPECT_EQ(later - span, t);
  CTime moved = t;
  moved += 60;
  EXPECT_EQ(moved.GetMinute(), 6);
  moved -= 60;
  EXPECT_EQ(moved, t);
  EXPECT_TRUE(t < later && later > t && t <= t && t >= t && t != later);
  EXPECT_FALSE(later < t || t > later || later <= t || t >= later || t == later);

  time_t before = time(nullptr);
  CTime now = CTime::GetCurrentTime();
  time_t after = time(nullptr);
  EXPECT_GE(now.GetTime(), before);
  EXPECT_LE(now.GetTime(), after);
}

}  // namespace
