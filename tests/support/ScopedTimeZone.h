#pragma once
// Sets the process time zone (TZ) for one scope and puts the old setting back at its end.

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

class TScopedTimeZone {
public:
  TScopedTimeZone() {
    if (const char* old = std::getenv("TZ")) FOld = old;
  }
  explicit TScopedTimeZone(const char* zone) : TScopedTimeZone() { Use(zone); }
  ~TScopedTimeZone() {
    if (FOld) {
      setenv("TZ", FOld->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  TScopedTimeZone(const TScopedTimeZone&) = delete;
  TScopedTimeZone& operator=(const TScopedTimeZone&) = delete;

  /// A POSIX zone such as "JST-9" (UTC+9) or "EST5" (UTC-5, no daylight time).
  void Use(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

private:
  std::optional<std::string> FOld;
};
