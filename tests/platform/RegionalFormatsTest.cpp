#include "platform/RegionalFormats.h"

#include <clocale>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "platform/TestTree.h"

namespace {

using testing_tree::Tm;

TEST(TRegionalFormats, DefaultsToTheNumericForms) {
  const platform::TRegionalFormats formats;
  EXPECT_EQ(formats.FormatDate(Tm(2004, 6, 19, 22, 22, 17)), "2004/06/19");
  EXPECT_EQ(formats.FormatTime(Tm(2004, 6, 19, 22, 22, 17)), "22:22:17");
  EXPECT_EQ(formats.FormatTime(Tm(2004, 6, 19, 7, 5, 3)), "07:05:03");
}

TEST(TRegionalFormats, UsesTheFormatsItHolds) {
  platform::TRegionalFormats formats;
  formats.ShortDate = "%d.%m.%Y";
  formats.LongTime = "%-H:%M:%S";
  EXPECT_EQ(formats.FormatDate(Tm(2004, 6, 19, 7, 5, 3)), "19.06.2004");
  EXPECT_EQ(formats.FormatTime(Tm(2004, 6, 19, 7, 5, 3)), "7:05:03");
  formats.LongTime = "";
  EXPECT_EQ(formats.FormatTime(Tm(2004, 6, 19, 7, 5, 3)), "");
}

std::string Strftime(const std::string& format, const std::tm& time) {
  char buffer[512];
  return std::string(buffer, std::strftime(buffer, sizeof buffer, format.c_str(), &time));
}

// The numeric formats are written without strftime; every format, in and out of that path,
// still gives exactly what strftime gives.
TEST(TRegionalFormats, WritesWhatStrftimeWrites) {
  const char* const formats[] = {"%Y/%m/%d", "%H:%M:%S", "%d.%m.%Y", "%m/%d/%y", "%Y-%m-%d %H%M%S",
                                 "%-H:%M", "%a %d %b", "%%Y", "trailing %", "%Y%", "[%S]", "%e/%m",
                                 "%Y/%m/%d and a long literal tail, beyond any fast buffer"};
  std::tm leapSecond = Tm(2016, 12, 31, 23, 59, 59);
  leapSecond.tm_sec = 60;
  const std::tm times[] = {Tm(2004, 6, 19, 22, 22, 17), Tm(2004, 6, 19, 0, 0, 0), Tm(1000, 1, 1, 7, 5, 3),
                           Tm(9999, 12, 31, 23, 59, 59), Tm(999, 1, 1, 1, 1, 1), Tm(10000, 1, 1, 1, 1, 1),
                           leapSecond};
  for (const char* format : formats) {
    for (const std::tm& time : times) {
      SCOPED_TRACE(std::string(format) + " in " + std::to_string(time.tm_year + 1900));
      platform::TRegionalFormats regional;
      regional.ShortDate = format;
      regional.LongTime = format;
      EXPECT_EQ(regional.FormatDate(time), Strftime(format, time));
      EXPECT_EQ(regional.FormatTime(time), Strftime(format, time));
    }
  }
}

// A result too long for the first buffer is written whole.
TEST(TRegionalFormats, WritesLongResultsWhole) {
  platform::TRegionalFormats formats;
  formats.ShortDate = std::string(100, 'x') + "%Y/%m/%d" + std::string(100, 'y');
  EXPECT_EQ(formats.FormatDate(Tm(2004, 6, 19, 22, 22, 17)), std::string(100, 'x') + "2004/06/19" + std::string(100, 'y'));
}

// The C locale's own D_FMT is "%m/%d/%y"; it carries no regional choice, so the defaults hold.
TEST(TRegionalFormats, ThePlainLocaleGivesTheDefaults) {
  const std::string old = std::setlocale(LC_TIME, nullptr);
  std::setlocale(LC_TIME, "C");
  const platform::TRegionalFormats formats = platform::TRegionalFormats::FromLocale();
  std::setlocale(LC_TIME, old.c_str());
  EXPECT_EQ(formats.ShortDate, "%Y/%m/%d");
  EXPECT_EQ(formats.LongTime, "%H:%M:%S");
}

}  // namespace
