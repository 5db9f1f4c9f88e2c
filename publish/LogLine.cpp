#include "publish/LogLine.h"

#include <ctime>

#include "http/IdException.h"
#include "platform/DateTime.h"
#include "platform/Text.h"

std::string StampedLogLine(const platform::TRegionalFormats& formats, std::string_view text) {
  const std::tm now = platform::LocalTm(std::time(nullptr));
  std::string line = formats.FormatDate(now);
  line += ' ';
  line += formats.FormatTime(now);
  line += ' ';
  line += text;
  return line;
}

std::string StartLogLine(const platform::TRegionalFormats& formats) {
  return StampedLogLine(formats, platform::Utf8ToCodePage("サーバ起動"));
}

std::string StopLogLine(const platform::TRegionalFormats& formats) {
  return StampedLogLine(formats, platform::Utf8ToCodePage("サーバ停止"));
}

std::string ExceptionLogLine(const std::exception& error) {
  const auto* engineError = dynamic_cast<const EIdException*>(&error);
  return std::string("exception : ") + (engineError != nullptr ? engineError->ClassName() : "Exception");
}
