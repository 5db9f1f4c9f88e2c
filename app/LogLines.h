#pragma once
// The window's own log lines (start, stop, caught errors) and the regional date and time they
// carry, in the system code page. No Qt.

#include <ctime>
#include <exception>
#include <string>

/// The user's short date and long time formats (strftime) from the LC_TIME locale;
/// "%Y/%m/%d" and "%H:%M:%S" in the C/POSIX locale, which has no regional settings.
struct TRegionalFormats {
  std::string Date, Time;
  static TRegionalFormats FromLocale();
};

/// date " " time of moment in local time, written with formats.
std::string RegionalDateTime(std::time_t moment, const TRegionalFormats& formats);

/// date " " time " サーバ起動".
std::string StartLine(std::time_t moment, const TRegionalFormats& formats);

/// date " " time " サーバ停止".
std::string StopLine(std::time_t moment, const TRegionalFormats& formats);

/// "exception : " followed by the class name of error (ClassName() for engine errors).
std::string ExceptionLine(const std::exception& error);
