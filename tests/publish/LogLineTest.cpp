#include "publish/LogLine.h"

#include <gtest/gtest.h>

#include <new>

#include "http/net/IdException.h"
#include "support/ScopedTimeZone.h"

namespace {

constexpr std::time_t kMoment = 1087683737;  // 2004-06-19 22:22:17 UTC

TEST(LogLine, StampsInTheGivenFormatsAndLocalTime) {
  TScopedTimeZone zone("UTC0");
  const platform::TRegionalFormats slashes;
  EXPECT_EQ(StampedLogLine(slashes, kMoment, "/docs/a.txt 192.168.0.5"), "2004/06/19 22:22:17 /docs/a.txt 192.168.0.5");
  EXPECT_EQ(StartLogLine(slashes, kMoment), "2004/06/19 22:22:17 サーバ起動");
  EXPECT_EQ(StopLogLine(slashes, kMoment), "2004/06/19 22:22:17 サーバ停止");
  platform::TRegionalFormats dots;
  dots.ShortDate = "%d.%m.%Y";
  dots.LongTime = "%H.%M.%S";
  EXPECT_EQ(StartLogLine(dots, kMoment), "19.06.2004 22.22.17 サーバ起動");
  zone.Use("JST-9");
  EXPECT_EQ(StopLogLine(slashes, kMoment), "2004/06/20 07:22:17 サーバ停止");
}

TEST(LogLine, ExceptionLinesNameTheClass) {
  EXPECT_EQ(ExceptionLogLine(EIdCouldNotBindSocket()), "exception : EIdCouldNotBindSocket");
  EXPECT_EQ(ExceptionLogLine(EIdSocketError(10054, "x")), "exception : EIdSocketError");
  EXPECT_EQ(ExceptionLogLine(std::bad_alloc()), "exception : std::bad_alloc");
}

}  // namespace
