#include "app/LogLines.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <new>

#include "http/IdException.h"

namespace {

class LogLinesTest : public testing::Test {
protected:
  void SetUp() override {
    const char* zone = std::getenv("TZ");
    FZone = zone != nullptr ? zone : "";
    FHadZone = zone != nullptr;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (FHadZone)
      setenv("TZ", FZone.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

  static constexpr std::time_t kMoment = 1087683737;  // 2004-06-19 22:22:17 UTC

private:
  std::string FZone;
  bool FHadZone = false;
};

TEST_F(LogLinesTest, StartAndStopLinesUseTheGivenFormats) {
  const TRegionalFormats slashes{"%Y/%m/%d", "%H:%M:%S"};
  EXPECT_EQ("2004/06/19 22:22:17 サーバ起動", StartLine(kMoment, slashes));
  EXPECT_EQ("2004/06/19 22:22:17 サーバ停止", StopLine(kMoment, slashes));
  EXPECT_EQ("19.06.2004 22.22.17 サーバ起動", StartLine(kMoment, {"%d.%m.%Y", "%H.%M.%S"}));
}

TEST_F(LogLinesTest, CLocaleHasTheDefaultFormats) {
  const TRegionalFormats formats = TRegionalFormats::FromLocale();  // the test main set "C"
  EXPECT_EQ("%Y/%m/%d", formats.Date);
  EXPECT_EQ("%H:%M:%S", formats.Time);
}

TEST(ExceptionLine, NamesTheClass) {
  EXPECT_EQ("exception : EIdCouldNotBindSocket", ExceptionLine(EIdCouldNotBindSocket()));
  EXPECT_EQ("exception : EIdSocketError", ExceptionLine(EIdSocketError(10013, "Socket Error # 10013")));
  EXPECT_EQ("exception : std::bad_alloc", ExceptionLine(std::bad_alloc()));
}

}  // namespace
