#include "publish/LogLine.h"

#include <gtest/gtest.h>

#include <regex>

#include "http/IdException.h"

namespace {

TEST(LogLine, StampsTextWithDateAndTimeInTheGivenFormats) {
  platform::TRegionalFormats formats;
  formats.ShortDate = "%d.%m.%Y";
  formats.LongTime = "%H-%M";
  const std::string line = StampedLogLine(formats, "/a b 127.0.0.1");
  EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d\d\.\d\d\.\d{4} \d\d-\d\d /a b 127\.0\.0\.1)"))) << line;
}

TEST(LogLine, StartAndStopLinesEndInTheirWords) {
  const platform::TRegionalFormats formats;
  const std::string start = StartLogLine(formats);
  const std::string stop = StopLogLine(formats);
  EXPECT_TRUE(std::regex_match(start, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d サーバ起動)"))) << start;
  EXPECT_TRUE(std::regex_match(stop, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d サーバ停止)"))) << stop;
}

TEST(LogLine, ExceptionLinesNameTheClass) {
  EXPECT_EQ(ExceptionLogLine(EIdCouldNotBindSocket()), "exception : EIdCouldNotBindSocket");
  EXPECT_EQ(ExceptionLogLine(EIdSocketError(10054, "x")), "exception : EIdSocketError");
  EXPECT_EQ(ExceptionLogLine(std::runtime_error("x")), "exception : Exception");
}

}  // namespace
