#include "http/protocol/IdGlobal.h"

#include "platform/CodePage.h"
#include "support/ScopedTimeZone.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::TDateTime;

TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  TDateTime date = 0, time = 0;
  EXPECT_TRUE(platform::TryEncodeDate(year, month, day, date));
  EXPECT_TRUE(platform::TryEncodeTime(hour, minute, second, 0, time));
  return date + time;
}

class TimeZone : public ::testing::Test {
protected:
  void Use(const char* zone) { FZone.Use(zone); }

private:
  TScopedTimeZone FZone;
};

constexpr double kMinute = 1.0 / 1440;

// Header dates written and read at three offsets

TEST_F(TimeZone, LocalUtcOffsetFollowsTheZoneOfTheMoment) {
  Use("JST-9");
  EXPECT_NEAR(LocalUtcOffset(), 0.375, 1e-9);
  Use("EST5");
  EXPECT_NEAR(LocalUtcOffset(), -5.0 / 24, 1e-9);
  Use("IST-5:30");
  EXPECT_NEAR(LocalUtcOffset(), 5.5 / 24, 1e-9);
  Use("UTC0");
  EXPECT_EQ(LocalUtcOffset(), 0);
}

TEST_F(TimeZone, DateTextIsTheMomentInGmtWhateverTheZone) {
  // 2026-12-06 22:13:12 local time, at three offsets, and a day of one digit.
  const TDateTime value = At(2026, 12, 6, 22, 13, 12);
  Use("JST-9");
  EXPECT_EQ(InternetDateText(value), "Sun, 06 Dec 2026 13:13:12 GMT");
  Use("EST5");
  EXPECT_EQ(InternetDateText(value), "Mon, 07 Dec 2026 03:13:12 GMT");
  Use("IST-5:30");
  EXPECT_EQ(InternetDateText(value), "Sun, 06 Dec 2026 16:43:12 GMT");
  Use("UTC0");
  EXPECT_EQ(InternetDateText(value), "Sun, 06 Dec 2026 22:13:12 GMT");
  EXPECT_EQ(InternetDateText(At(2007, 1, 1)), "Mon, 01 Jan 2007 00:00:00 GMT");
  Use("JST-9");
  EXPECT_EQ(InternetDateText(At(2007, 1, 1, 8, 59, 59)), "Sun, 31 Dec 2006 23:59:59 GMT");
}

TEST_F(TimeZone, HeaderDateBecomesLocalTime) {
  Use("JST-9");
  EXPECT_NEAR(HeaderDateToLocal("Sun, 06 Nov 1994 08:49:37 GMT"), At(1994, 11, 6, 17, 49, 37), 1e-6);
  EXPECT_NEAR(HeaderDateToLocal("Sun, 06 Nov 1994 08:49:37 +0100"), At(1994, 11, 6, 16, 49, 37), 1e-6);
  Use("EST5");
  EXPECT_NEAR(HeaderDateToLocal("Sun, 06 Nov 1994 08:49:37 GMT"), At(1994, 11, 6, 3, 49, 37), 1e-6);
  Use("UTC0");
  EXPECT_NEAR(HeaderDateToLocal("Sun, 06 Nov 1994 08:49:37 -0230"), At(1994, 11, 6, 11, 19, 37), 1e-6);
  EXPECT_EQ(HeaderDateToLocal(""), 0);
  EXPECT_EQ(HeaderDateToLocal("   "), 0);
  EXPECT_EQ(HeaderDateToLocal("31 Feb 1994"), 0);
}

TEST_F(TimeZone, HeaderDateToUtcIgnoresTheLocalZone) {
  for (const char* zone : {"JST-9", "EST5", "UTC0"}) {
    SCOPED_TRACE(zone);
    Use(zone);
    EXPECT_NEAR(HeaderDateToUtc("Sun, 06 Nov 1994 08:49:37 GMT"), At(1994, 11, 6, 8, 49, 37), 1e-6);
    EXPECT_NEAR(HeaderDateToUtc("Sun, 06 Nov 1994 17:49:37 +0900"), At(1994, 11, 6, 8, 49, 37), 1e-6);
    EXPECT_NEAR(HeaderDateToUtc("Sun, 06 Nov 1994 06:19:37 -0230"), At(1994, 11, 6, 8, 49, 37), 1e-6);
    EXPECT_EQ(HeaderDateToUtc("31 Feb 1994"), 0);
    EXPECT_EQ(HeaderDateToUtc(""), 0);
  }
}

// Parsing

struct ParseCase {
  const char* text;
  int year, month, day, hour, minute, second;  // year 0: no date
  const char* rest;
};
const ParseCase kParse[] = {
    {"Sun, 06 Nov 1994 08:49:37 GMT", 1994, 11, 6, 8, 49, 37, "GMT"},       // RFC 1123
    {"Sunday, 06-Nov-94 08:49:37 GMT", 1994, 11, 6, 8, 49, 37, "GMT"},      // RFC 850
    {"Sun Nov  6 08:49:37 1994", 1994, 11, 6, 8, 49, 37, ""},               // asctime
    {"Fri, Sep 7 2001", 2001, 9, 7, 0, 0, 0, ""},                           // month first, no time
    {"06 Nov 1994", 1994, 11, 6, 0, 0, 0, ""},                              // midnight
    {"  sun, 06 nov 1994 08:49:37   +0900 ", 1994, 11, 6, 8, 49, 37, "+0900"},
    {"Sunday, 06-Nov-79 08:49:37 GMT", 2079, 11, 6, 8, 49, 37, "GMT"},      // 00-79: 2000s
    {"Sunday, 06-Nov-80 08:49:37 GMT", 1980, 11, 6, 8, 49, 37, "GMT"},      // 80-99: 1900s
    {"Tue, 29 Feb 2028 23:59:59 GMT", 2028, 2, 29, 23, 59, 59, "GMT"},
    {"31 Feb 1994", 0, 0, 0, 0, 0, 0, nullptr},                             // impossible day
    {"Tue, 29 Feb 2027 10:00:00 GMT", 0, 0, 0, 0, 0, 0, nullptr},           // not a leap year
    {"06 Nov 1994 24:00:00 GMT", 0, 0, 0, 0, 0, 0, nullptr},                // impossible hour
    {"06 Nov 1994 10:60:00 GMT", 0, 0, 0, 0, 0, 0, nullptr},
    {"Sun, 06 November 1994 08:49:37 GMT", 0, 0, 0, 0, 0, 0, nullptr},      // long month name
    {"", 0, 0, 0, 0, 0, 0, nullptr},
    {" \t ", 0, 0, 0, 0, 0, 0, nullptr},
    {"yesterday", 0, 0, 0, 0, 0, 0, nullptr},
    {"Tue, 6 Nov 1900 00:04:00 GMT", 1900, 11, 6, 0, 4, 0, "GMT"},        // 1900 is a year too
    {"Mon Jan  1 12:30:00 1900", 1900, 1, 1, 12, 30, 0, ""},
};

TEST(ParseInternetDate, ReadsTheCommonFormsAndRejectsImpossibleDates) {
  for (const ParseCase& c : kParse) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    const TDateTime value = ParseInternetDate(text);
    if (c.year == 0) {
      EXPECT_EQ(value, 0);
      continue;
    }
    EXPECT_NEAR(value, At(c.year, c.month, c.day, c.hour, c.minute, c.second), 1e-6);
    EXPECT_EQ(text, c.rest);
  }
}

TEST(OffsetTextToDateTime, ReadsSignedHoursAndMinutesOnly) {
  EXPECT_NEAR(OffsetTextToDateTime("+0900"), 0.375, 1e-9);
  EXPECT_NEAR(OffsetTextToDateTime(" -0500 "), -5.0 / 24, 1e-9);
  EXPECT_NEAR(OffsetTextToDateTime("+0130xyz"), 90 * kMinute, 1e-9);
  for (const char* zero : {"", "GMT", "UTC", "EST", "+09", "+2500", "+09x0", "0900"}) {
    SCOPED_TRACE(zero);
    EXPECT_EQ(OffsetTextToDateTime(zero), 0);
  }
}

TEST(DayNumberAndMonthNumber, OnlyThreeLetterNamesInAnyCase) {
  EXPECT_EQ(DayNumber("sun"), 1);
  EXPECT_EQ(DayNumber("SAT"), 7);
  EXPECT_EQ(DayNumber("Sunday"), 0);
  EXPECT_EQ(MonthNumber("jan"), 1);
  EXPECT_EQ(MonthNumber("Nov"), 11);
  EXPECT_EQ(MonthNumber("November"), 0);
  EXPECT_EQ(MonthNumber(""), 0);
}

// Tokens and searches

TEST(TakeToken, SplitsAtTheFirstDelimiter) {
  std::string text = "GET /a HTTP/1.1";
  EXPECT_EQ(TakeToken(text), "GET");
  EXPECT_EQ(text, "/a HTTP/1.1");
  EXPECT_EQ(TakeToken(text, "#"), "/a HTTP/1.1");
  EXPECT_EQ(text, "");

  text = "name=value=x";
  EXPECT_EQ(TakeToken(text, "=", false), "name");
  EXPECT_EQ(text, "name=value=x");
  EXPECT_EQ(TakeToken(text, "=v"), "name");
  EXPECT_EQ(text, "alue=x");

  text = std::string("a\0b", 3);
  EXPECT_EQ(TakeToken(text, std::string(1, '\0')), "a");
  EXPECT_EQ(text, "b");

  text = "oneXANDxtwo";
  EXPECT_EQ(TakeToken(text, "xand", true, false), "one");
  EXPECT_EQ(text, "xtwo");
  EXPECT_EQ(TakeTokenNoCase(text, "X"), "");
  EXPECT_EQ(text, "two");
}

TEST(TakeToken, StepsOverDoubleByteCharacters) {
  // 0x95 0x5C is one Shift-JIS character whose second byte equals a backslash.
  const std::string sjis = "\x95\x5C\\x";
  platform::SetSystemCodePage(platform::TCodePage::ShiftJis);
  std::string text = sjis;
  const std::string token = TakeToken(text, "\\");
  const int pos = TextPos("\\", sjis);
  platform::SetSystemCodePage(platform::TCodePage::Utf8);
  EXPECT_EQ(token, "\x95\x5C");
  EXPECT_EQ(text, "x");
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(TextPos("\\", sjis), 2);  // byte search without lead bytes
}

TEST(LastPos, SearchesBackwardsWithoutRegardToCase) {
  const std::string line = "GET /a b HTTP/1.1";
  EXPECT_EQ(LastPos(" ", line), 9);
  EXPECT_EQ(LastPos(" ", line, 8), 7);
  EXPECT_EQ(LastPos("http", line), 10);
  EXPECT_EQ(LastPos("1.1", line, 100), 15);
  EXPECT_EQ(LastPos("GET", line, 1), 1);
  EXPECT_EQ(LastPos("#", line), 0);
  EXPECT_EQ(LastPos("", line), 0);
  EXPECT_EQ(LastPos("longer than the line itself", "short"), 0);
}

TEST(TextPos, OneBasedWithZeroForNone) {
  EXPECT_EQ(TextPos("ab", "xxab"), 3);
  EXPECT_EQ(TextPos("ab", "xxa"), 0);
  EXPECT_EQ(TextPos("", "xx"), 0);
}

// Text conversions

TEST(StrToIntDef, DecimalNumbersOnly) {
  EXPECT_EQ(StrToIntDef("42", -1), 42);
  EXPECT_EQ(StrToIntDef("  -7", 0), -7);
  EXPECT_EQ(StrToIntDef("+8", 0), 8);
  for (const char* bad : {"", "42 ", "4x", "abc", "--1", "+-1", "99999999999"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(StrToIntDef(bad, -1), -1);
  }
  EXPECT_EQ(StrToInt64Def("4294967296", -1), 4294967296LL);
  EXPECT_EQ(Trim(" \t\r\nx y\x01 "), "x y");
}

// Regression: the year 1900 was taken for "no year here", so a date of 1900 lost its time and
// zone; dates before 1899-12-30 lost their time of day to the day-towards-zero rule.
TEST_F(TimeZone, DatesBefore1901KeepTheirTimeAndZone) {
  Use("JST-9");
  struct OldCase {
    const char* text;
    int year, month, day, hour, minute;
  };
  const OldCase cases[] = {
      {"Tue, 6 Nov 1900 00:04:00 GMT", 1900, 11, 6, 9, 4},
      {"Wed, 06 Nov 1850 20:30:00 GMT", 1850, 11, 7, 5, 30},   // the zone moves it to the next day
      {"Fri, 29 Dec 1899 18:00:00 +0900", 1899, 12, 29, 18, 0},
      {"Fri, 29 Dec 1899 18:00:00 GMT", 1899, 12, 30, 3, 0},   // across the day the count starts at
  };
  for (const OldCase& c : cases) {
    SCOPED_TRACE(c.text);
    const platform::TDateParts parts = platform::DecodeDateTime(HeaderDateToLocal(c.text));
    EXPECT_EQ(parts.Year, c.year);
    EXPECT_EQ(parts.Month, c.month);
    EXPECT_EQ(parts.Day, c.day);
    EXPECT_EQ(parts.Hour, c.hour);
    EXPECT_EQ(parts.Minute, c.minute);
  }
}

}  // namespace
