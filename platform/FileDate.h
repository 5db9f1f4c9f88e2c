#pragma once
// The packed date-time of file times: 32 bits of local time, the date in the high 16 bits
// ((year - 1980) << 9 | month << 5 | day), the time in the low 16 bits
// (hour << 11 | minute << 5 | second / 2). It holds 1980-01-01 00:00:00 to 2107-12-31 23:59:58.

#include <cstdint>
#include <ctime>

#include "platform/DateTime.h"

namespace platform {

using TFileDate = std::int32_t;

/// The packed form of a broken-down local time; a time before the first moment the form holds
/// packs as 1980-01-01 00:00:00, one after the last as 2107-12-31 23:59:58. Odd seconds round
/// down.
TFileDate PackFileDate(const std::tm& local);

/// The packed local time of a moment (seconds since the epoch), clamped as PackFileDate.
/// Uses the process time zone. Any thread.
TFileDate FileDateFromTime(std::time_t moment);

/// The packed form of a date-time, clamped as PackFileDate.
TFileDate DateTimeToFileDate(TDateTime value);

/// The date-time that a packed value stands for; a date part that names no calendar day
/// counts as 0 (no date), a time part that names no time of day as midnight.
TDateTime FileDateToDateTime(TFileDate fileDate);

}  // namespace platform
