#include "publish/LogLine.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "http/net/IdException.h"
#include "platform/DateTime.h"
#include "platform/Text.h"
#include "publish/LogEscape.h"

namespace {

std::string DemangledName(const std::type_info& type) {
  int status = 0;
  const std::unique_ptr<char, decltype(&std::free)> name(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
  return status == 0 && name ? name.get() : type.name();
}

}  // namespace

std::string StampedLogLine(const platform::TRegionalFormats& formats, std::time_t moment, std::string_view text) {
  const std::tm local = platform::LocalTm(moment);
  std::string line = formats.FormatDate(local);
  line += ' ';
  line += formats.FormatTime(local);
  line += ' ';
  line += EscapeLogText(text);
  return line;
}

std::string StartLogLine(const platform::TRegionalFormats& formats, std::time_t moment) {
  return StampedLogLine(formats, moment, platform::Utf8ToCodePage("サーバ起動"));
}

std::string StopLogLine(const platform::TRegionalFormats& formats, std::time_t moment) {
  return StampedLogLine(formats, moment, platform::Utf8ToCodePage("サーバ停止"));
}

std::string LockOutLogLine(const platform::TRegionalFormats& formats, std::time_t moment, std::string_view address) {
  std::string text = platform::Utf8ToCodePage("ログイン失敗が多いため60秒間拒否 (too many failed logins: refused for 60 s) ");
  text += address;
  return StampedLogLine(formats, moment, text);
}

std::string ExceptionLogLine(const std::exception& error) {
  if (const auto* engineError = dynamic_cast<const EIdException*>(&error))
    return std::string("exception : ") + engineError->ClassName();
  return "exception : " + DemangledName(typeid(error));
}
