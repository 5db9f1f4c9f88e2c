#include "app/LogLines.h"

#include <cxxabi.h>
#include <langinfo.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <typeinfo>

#include "app/SystemText.h"
#include "http/IdException.h"

namespace {

std::string FormatTime(const char* format, const std::tm& local) {
  char buffer[256];
  const std::size_t length = std::strftime(buffer, sizeof buffer, format, &local);
  return std::string(buffer, length);
}

std::string DemangledName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                   &std::free);
  return status == 0 && name ? name.get() : type.name();
}

}  // namespace

TRegionalFormats TRegionalFormats::FromLocale() {
  const char* locale = std::setlocale(LC_TIME, nullptr);
  if (locale == nullptr || std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0)
    return {"%Y/%m/%d", "%H:%M:%S"};
  return {nl_langinfo(D_FMT), nl_langinfo(T_FMT)};
}

std::string RegionalDateTime(std::time_t moment, const TRegionalFormats& formats) {
  std::tm local{};
  localtime_r(&moment, &local);
  return FormatTime(formats.Date.c_str(), local) + " " + FormatTime(formats.Time.c_str(), local);
}

std::string StartLine(std::time_t moment, const TRegionalFormats& formats) {
  return RegionalDateTime(moment, formats) + Utf8ToSystem(" サーバ起動");
}

std::string StopLine(std::time_t moment, const TRegionalFormats& formats) {
  return RegionalDateTime(moment, formats) + Utf8ToSystem(" サーバ停止");
}

std::string ExceptionLine(const std::exception& error) {
  if (const auto* engineError = dynamic_cast<const EIdException*>(&error))
    return std::string("exception : ") + engineError->ClassName();
  return "exception : " + DemangledName(typeid(error));
}
