#include "platform/DateTime.h"

#include <gtest/gtest.h>

namespace {

using platform::TDateTime;

// Calendar anchors of the day count
TEST(DateTime, EncodesKnownDayNumbers) {
  TDateTime value = -1;
  ASSERT_TRUE(platform::TryEncodeDate(1899, 12, 30, value));
  EXPECT_EQ(value, 0);
  ASSERT_TRUE(platform::TryEncodeDate(1900, 1, 1, value));
  EXPECT_EQ(value, 2);
  ASSERT_TRUE(platform::TryEncodeDate(2004, 6, 19, value));
  EXPECT_EQ(value, 38157);
  ASSERT_TRUE(platform::TryEncodeDate(2000, 2, 29, value));
}

TEST(DateTime, RejectsImpossibleDatesAndTimes) {
  TDateTime value = 0;
  EXPECT_FALSE(platform::TryEncodeDate(1994, 2, 31, value));
  EXPECT_FALSE(platform::TryEncodeDate(1900, 2, 29, value));
  EXPECT_FALSE(platform::TryEncodeDate(2001, 13, 1, value));
  EXPECT_FALSE(platform::TryEncodeDate(2001, 1, 0, value));
  EXPECT_FALSE(platform::TryEncodeTime(24, 0, 0, 0, value));
  EXPECT_FALSE(platform::TryEncodeTime(23, 60, 0, 0, value));
  EXPECT_FALSE(platform::TryEncodeTime(23, 59, 60, 0, value));
}

TEST(DateTime, DecodesWhatItEncoded) {
  TDateTime date = 0, time = 0;
  ASSERT_TRUE(platform::TryEncodeDate(2026, 12, 6, date));
  ASSERT_TRUE(platform::TryEncodeTime(22, 13, 12, 0, time));
  const platform::TDateParts parts = platform::DecodeDateTime(date + time);
  EXPECT_EQ(parts.Year, 2026);
  EXPECT_EQ(parts.Month, 12);
  EXPECT_EQ(parts.Day, 6);
  EXPECT_EQ(parts.Hour, 22);
  EXPECT_EQ(parts.Minute, 13);
  EXPECT_EQ(parts.Second, 12);
  EXPECT_EQ(platform::DayOfWeek(date + time), 1);  // a Sunday
}

TEST(DateTime, LastMillisecondOfADayDoesNotRollOver) {
  TDateTime date = 0, time = 0;
  ASSERT_TRUE(platform::TryEncodeDate(2007, 1, 1, date));
  ASSERT_TRUE(platform::TryEncodeTime(23, 59, 59, 999, time));
  const platform::TDateParts parts = platform::DecodeDateTime(date + time);
  EXPECT_EQ(parts.Day, 1);
  EXPECT_EQ(parts.Hour, 23);
  EXPECT_EQ(parts.MSec, 999);
}

TEST(DateTime, BrokenDownTimeRoundTrips) {
  std::tm local{};
  local.tm_year = 104;
  local.tm_mon = 5;
  local.tm_mday = 19;
  local.tm_hour = 22;
  local.tm_min = 22;
  local.tm_sec = 17;
  const std::tm back = platform::TmFromDateTime(platform::DateTimeFromTm(local));
  EXPECT_EQ(back.tm_year, 104);
  EXPECT_EQ(back.tm_mon, 5);
  EXPECT_EQ(back.tm_mday, 19);
  EXPECT_EQ(back.tm_hour, 22);
  EXPECT_EQ(back.tm_min, 22);
  EXPECT_EQ(back.tm_sec, 17);
  EXPECT_EQ(back.tm_wday, 6);  // a Saturday
}

// Before 1899-12-30 a date-time counts its day towards zero and its time of day forwards.
TEST(DateTime, MovesAndComparesAlikeOnBothSidesOfTheFirstDay) {
  EXPECT_DOUBLE_EQ(platform::IncDateTime(-1, 0.25), -1.25);  // 1899-12-29 06:00
  EXPECT_DOUBLE_EQ(platform::IncDateTime(-1.25, 1), 0.25);   // a day later: 1899-12-30 06:00
  EXPECT_DOUBLE_EQ(platform::IncDateTime(0.25, -0.5), -1.75);  // twelve hours earlier: 12-29 18:00
  EXPECT_DOUBLE_EQ(platform::IncDateTime(38157.5, 0.25), 38157.75);
  EXPECT_EQ(platform::DateTimeToSeconds(-1.25), -64800);
  EXPECT_EQ(platform::DateTimeToSeconds(-1.75), -21600);
  EXPECT_LT(platform::DateTimeToSeconds(-1.25), platform::DateTimeToSeconds(-1.75));
  EXPECT_EQ(platform::DateTimeToSeconds(1.5), 129600);
}

TEST(DateTime, UtcDateTimeCountsFromTheEpoch) {
  EXPECT_DOUBLE_EQ(platform::UtcDateTime(0), 25569);
  EXPECT_DOUBLE_EQ(platform::UtcDateTime(86400 + 21600), 25570.25);
  EXPECT_DOUBLE_EQ(platform::UtcDateTime(-2209226400), -1.25);  // 1899-12-29 06:00
}

}  // namespace
