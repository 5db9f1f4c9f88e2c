#include "platform/FileDate.h"

#include <gtest/gtest.h>

#include "platform/TestTree.h"

namespace {

using testing_tree::Tm;

constexpr platform::TFileDate kFirst = 0x00210000;                              // 1980-01-01 00:00:00
constexpr platform::TFileDate kLast = static_cast<platform::TFileDate>(0xFF9FBF7D);  // 2107-12-31 23:59:58

struct PackCase {
  std::tm local;
  platform::TFileDate packed;
};

TEST(FileDate, PacksAndClampsLocalTimes) {
  const PackCase cases[] = {
      {Tm(2004, 6, 19, 22, 22, 17), 819180232},  // odd seconds round down
      {Tm(1980, 1, 1, 0, 0, 0), kFirst},
      {Tm(1979, 12, 31, 23, 59, 59), kFirst},
      {Tm(1970, 1, 1, 9, 0, 0), kFirst},
      {Tm(2107, 12, 31, 23, 59, 59), kLast},
      {Tm(2108, 1, 1, 0, 0, 0), kLast},
      {Tm(2300, 6, 1, 12, 0, 0), kLast},
  };
  for (const PackCase& c : cases) {
    SCOPED_TRACE(c.local.tm_year + 1900);
    EXPECT_EQ(platform::PackFileDate(c.local), c.packed);
  }
}

TEST(FileDate, UnpacksToTheDateTime) {
  const platform::TDateParts parts = platform::DecodeDateTime(platform::FileDateToDateTime(819180232));
  EXPECT_EQ(parts.Year, 2004);
  EXPECT_EQ(parts.Month, 6);
  EXPECT_EQ(parts.Day, 19);
  EXPECT_EQ(parts.Hour, 22);
  EXPECT_EQ(parts.Minute, 22);
  EXPECT_EQ(parts.Second, 16);
  const platform::TDateParts last = platform::DecodeDateTime(platform::FileDateToDateTime(kLast));
  EXPECT_EQ(last.Year, 2107);
  EXPECT_EQ(last.Second, 58);
  EXPECT_EQ(platform::DateTimeToFileDate(platform::FileDateToDateTime(819180232)), 819180232);
}

TEST(FileDate, PacksAMomentInTheLocalTimeZone) {
  const TScopedTimeZone zone("JST-9");
  EXPECT_EQ(platform::FileDateFromTime(testing_tree::LocalMoment(2004, 6, 19, 22, 22, 17)), 819180232);
  EXPECT_EQ(platform::FileDateFromTime(1087651337), 819180232);  // the same moment in UTC seconds
  EXPECT_EQ(platform::FileDateFromTime(0), kFirst);
}

}  // namespace
