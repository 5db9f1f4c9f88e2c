#include "platform/RegionalFormats.h"

#include <clocale>
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
