// Header dates: any text parses to a possible date-time or to 0, never with a fraction of a
// second, and every date the formatter writes (and its RFC 850 and asctime forms) reads back
// as the same moment.
// Input: a moment (day and second), then the header text to parse.

#include "FuzzCheck.h"
#include "http/protocol/IdGlobal.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

using platform::TDateTime;

namespace {

constexpr double kSecondsPerDay = 86400;
constexpr TDateTime kTokyoOffset = 9.0 / 24;  // the zone every run sets, so none depends on the machine

const char* const kDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

TDateTime Date(int year, int month, int day) {
  TDateTime date = 0;
  platform::TryEncodeDate(year, month, day, date);
  return date;
}

bool IsWholeSecond(TDateTime value) {
  const double seconds = value * kSecondsPerDay;
  return std::fabs(seconds - std::round(seconds)) < 1e-3;
}

bool SameSecond(TDateTime a, TDateTime b) {
  return std::llround(a * kSecondsPerDay) == std::llround(b * kSecondsPerDay);
}

void CheckParse(const std::string& text) {
  std::string rest = text;
  const TDateTime value = ParseInternetDate(rest);
  if (value != 0) {
    FUZZ_CHECK(value >= Date(1, 1, 1) && value < Date(9999, 12, 31) + 1);
    FUZZ_CHECK(IsWholeSecond(value));
    FUZZ_CHECK(rest.empty() || static_cast<unsigned char>(rest[0]) > 0x20);  // the zone part, blanks gone
  }
  const TDateTime local = HeaderDateToLocal(text);
  if (value == 0) FUZZ_CHECK(local == 0);
  // Compared as moments: before 1899-12-30 the time of day counts backwards in a date-time, so
  // the two numbers may differ by more than the shift itself.
  FUZZ_CHECK(std::llabs(platform::DateTimeToSeconds(local) - platform::DateTimeToSeconds(value)) <=
             static_cast<std::int64_t>((1 + kTokyoOffset) * kSecondsPerDay));

  const TDateTime offset = OffsetTextToDateTime(text);
  FUZZ_CHECK(std::fabs(offset) < 1 && IsWholeSecond(offset));
}

// The moment, written as header dates of each form, reads back as itself.
void CheckRoundTrip(TDateTime moment) {
  const platform::TDateParts parts = platform::DecodeDateTime(moment);
  const char* weekday = kDays[platform::DayOfWeek(moment) - 1];
  const char* month = kMonths[parts.Month - 1];
  char buffer[96];

  // A year of 1900 is where the parser looks for the asctime form, so only that form has it.
  // The formatter writes the moment in GMT, nine hours before the local time.
  const TDateTime gmt = moment - kTokyoOffset;
  if (platform::DecodeDateTime(gmt).Year != 1900) {
    std::string written = InternetDateText(moment);
    const std::string text = written;
    FUZZ_CHECK(SameSecond(ParseInternetDate(written), gmt) && written == "GMT");
    FUZZ_CHECK(SameSecond(HeaderDateToLocal(text), moment));
    FUZZ_CHECK(SameSecond(HeaderDateToUtc(text), gmt));
  }
  if (parts.Year >= 1980 && parts.Year <= 2079) {
    std::snprintf(buffer, sizeof buffer, "%s, %02d-%s-%02d %02d:%02d:%02d GMT", weekday, parts.Day, month,
                  parts.Year % 100, parts.Hour, parts.Minute, parts.Second);
    FUZZ_CHECK(SameSecond(HeaderDateToLocal(buffer), moment + kTokyoOffset));
  }
  std::snprintf(buffer, sizeof buffer, "%.3s %s %2d %02d:%02d:%02d %d", weekday, month, parts.Day, parts.Hour,
                parts.Minute, parts.Second, parts.Year);
  std::string asctime = buffer;
  FUZZ_CHECK(SameSecond(ParseInternetDate(asctime), moment) && asctime.empty());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "JST-9", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // Moments from 1901 on: before 1899-12-30 a date-time counts its time of day backwards.
  const auto day = input.ConsumeIntegralInRange<std::int64_t>(0, static_cast<std::int64_t>(Date(9999, 12, 31) - Date(1901, 1, 1)));
  const auto second = input.ConsumeIntegralInRange<std::int64_t>(0, 86399);
  CheckRoundTrip(Date(1901, 1, 1) + static_cast<double>(day) + static_cast<double>(second) / kSecondsPerDay);
  CheckParse(input.ConsumeRemainingBytesAsString());
  return 0;
}
