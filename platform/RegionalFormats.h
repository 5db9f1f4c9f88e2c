#pragma once
// The user's short date and long time formats, as strftime formats. A plain value: read once
// from the locale and handed to whoever writes dates, so tests can fix it.

#include <ctime>
#include <string>

namespace platform {

struct TRegionalFormats {
  std::string ShortDate = "%Y/%m/%d";  // 2004/06/19
  std::string LongTime = "%H:%M:%S";   // 22:22:17

  /// The formats of the process's LC_TIME locale (nl_langinfo D_FMT and T_FMT); the defaults
  /// above in the C and POSIX locales, which carry no regional settings. Call after setlocale(),
  /// before threads start (nl_langinfo reads the global locale).
  static TRegionalFormats FromLocale();

  /// A broken-down time in the short date format. Any thread.
  std::string FormatDate(const std::tm& time) const;

  /// A broken-down time in the long time format. Any thread.
  std::string FormatTime(const std::tm& time) const;
};

}  // namespace platform
