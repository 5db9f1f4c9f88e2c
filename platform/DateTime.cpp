#include "platform/DateTime.h"

#include <cmath>
#include <cstdint>

namespace platform {
namespace {

constexpr std::int64_t kMSecPerDay = 86400000;
constexpr std::int64_t kDaysFrom1970To1899 = 25569;  // 1970-01-01 is day 25569

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// Whole days and milliseconds of the day. A negative value keeps its day part towards zero
// and takes the time of day from the fraction's magnitude.
void SplitDateTime(TDateTime value, std::int64_t& days, std::int64_t& msec) {
  if (value >= 0) {
    const std::int64_t total = std::llround(value * kMSecPerDay);
    days = total / kMSecPerDay;
    msec = total % kMSecPerDay;
    return;
  }
  days = static_cast<std::int64_t>(std::trunc(value));
  msec = std::llround(std::fabs(value - std::trunc(value)) * kMSecPerDay);
  if (msec >= kMSecPerDay) msec = kMSecPerDay - 1;
}

}  // namespace

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  result = static_cast<TDateTime>(DaysFromCivil(year, month, day) + kDaysFrom1970To1899);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999)
    return false;
  result = static_cast<TDateTime>(((hour * 60 + minute) * 60 + second) * 1000 + msec) / kMSecPerDay;
  return true;
}

TDateParts DecodeDateTime(TDateTime value) {
  std::int64_t days = 0, msec = 0;
  SplitDateTime(value, days, msec);
  TDateParts parts;
  CivilFromDays(days - kDaysFrom1970To1899, parts.Year, parts.Month, parts.Day);
  parts.MSec = static_cast<int>(msec % 1000);
  parts.Second = static_cast<int>(msec / 1000 % 60);
  parts.Minute = static_cast<int>(msec / 60000 % 60);
  parts.Hour = static_cast<int>(msec / 3600000);
  return parts;
}

int DayOfWeek(TDateTime value) {
  std::int64_t days = 0, msec = 0;
  SplitDateTime(value, days, msec);
  // 1899-12-30 was a Saturday (7).
  return static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
}

TDateTime DateTimeFromTm(const std::tm& local) {
  const std::int64_t days = DaysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday);
  const double time = (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec) / 86400.0;
  return static_cast<TDateTime>(days + kDaysFrom1970To1899) + time;
}

std::time_t Now() { return std::time(nullptr); }

bool LocalUtcOffsetSeconds(std::time_t moment, long& offset) {
  std::tm local{};
  if (moment == static_cast<std::time_t>(-1) || localtime_r(&moment, &local) == nullptr) return false;
  offset = local.tm_gmtoff;
  return true;
}

TDateTime LocalDateTime(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  return DateTimeFromTm(local);
}

std::tm LocalTm(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  return local;
}

std::tm TmFromDateTime(TDateTime value) {
  const TDateParts parts = DecodeDateTime(value);
  std::tm result{};
  result.tm_year = parts.Year - 1900;
  result.tm_mon = parts.Month - 1;
  result.tm_mday = parts.Day;
  result.tm_hour = parts.Hour;
  result.tm_min = parts.Minute;
  result.tm_sec = parts.Second;
  result.tm_wday = DayOfWeek(value) - 1;
  result.tm_isdst = -1;
  return result;
}

}  // namespace platform
