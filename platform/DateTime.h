#pragma once
// The date-time value shared by the whole system: days since 1899-12-30 with the time of day
// as the fraction, in local time; 0 means "no date".

#include <ctime>

namespace platform {

using TDateTime = double;

/// The date of year/month/day at midnight; false for an impossible date or a year outside 1-9999.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);

/// The time of day as a fraction of a day; false for hour > 23, minute or second > 59,
/// msec > 999 or any negative part.
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result);

struct TDateParts {
  int Year = 0, Month = 0, Day = 0;
  int Hour = 0, Minute = 0, Second = 0, MSec = 0;
};

/// Splits a date-time into its calendar and clock parts (rounded to the millisecond).
TDateParts DecodeDateTime(TDateTime value);

/// The weekday of value, 1 = Sunday to 7 = Saturday.
int DayOfWeek(TDateTime value);

/// The date-time of a broken-down local time (tm_year from 1900, tm_mon from 0).
TDateTime DateTimeFromTm(const std::tm& local);

/// The current moment, seconds since the epoch. Any thread.
std::time_t Now();

/// Local time minus UTC at a moment, in seconds (+9 hours is 32400); false when the C library
/// cannot give the local time. Any thread.
bool LocalUtcOffsetSeconds(std::time_t moment, long& offset);

/// The date-time of a moment in local time. Any thread.
TDateTime LocalDateTime(std::time_t moment);

/// The broken-down local time of a moment, in the process time zone. Any thread.
std::tm LocalTm(std::time_t moment);

/// The broken-down time of a date-time, for strftime (tm_isdst -1: unknown).
std::tm TmFromDateTime(TDateTime value);

}  // namespace platform
