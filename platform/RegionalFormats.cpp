#include "platform/RegionalFormats.h"

#include <langinfo.h>

#include <clocale>
#include <string_view>
#include <vector>

namespace platform {
namespace {

bool IsPlainLocale(std::string_view name) {
  return name == "C" || name == "POSIX" || name.starts_with("C.");
}

char* PutTwoDigits(char* out, int value) {
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
  return out + 2;
}

bool FieldsInRange(const std::tm& time) {
  return time.tm_year >= 1000 - 1900 && time.tm_year <= 9999 - 1900 && time.tm_mon >= 0 && time.tm_mon < 12 &&
         time.tm_mday >= 1 && time.tm_mday <= 31 && time.tm_hour >= 0 && time.tm_hour < 24 && time.tm_min >= 0 &&
         time.tm_min < 60 && time.tm_sec >= 0 && time.tm_sec <= 60;
}

// The numeric formats (%Y, %m, %d, %H, %M, %S and plain characters) written without strftime,
// which would parse the format and consult the locale at every call of a page with thousands
// of dates. Gives false for anything else, for long formats, and for years outside 1000-9999
// and fields out of range, which strftime then writes.
bool FormatNumeric(const std::string& format, const std::tm& time, std::string& out) {
  char buffer[64];  // a directive writes at most twice its own length
  if (format.size() > sizeof buffer / 2 || !FieldsInRange(time)) return false;
  char* end = buffer;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      *end++ = format[i];
      continue;
    }
    if (++i == format.size()) return false;
    switch (format[i]) {
      case 'Y': end = PutTwoDigits(PutTwoDigits(end, (time.tm_year + 1900) / 100), (time.tm_year + 1900) % 100); break;
      case 'm': end = PutTwoDigits(end, time.tm_mon + 1); break;
      case 'd': end = PutTwoDigits(end, time.tm_mday); break;
      case 'H': end = PutTwoDigits(end, time.tm_hour); break;
      case 'M': end = PutTwoDigits(end, time.tm_min); break;
      case 'S': end = PutTwoDigits(end, time.tm_sec); break;
      default: return false;
    }
  }
  out.assign(buffer, end);
  return true;
}

std::string Format(const std::string& format, const std::tm& time) {
  if (format.empty()) return {};
  if (std::string numeric; FormatNumeric(format, time, numeric)) return numeric;
  // Every common format fits the stack buffer, which spares a heap buffer per date written.
  char local[128];
  std::size_t length = std::strftime(local, sizeof local, format.c_str(), &time);
  if (length != 0) return std::string(local, length);
  // strftime gives 0 both for "too small" and for an empty result, so grow a few times only.
  std::vector<char> buffer(sizeof local * 4 + format.size() * 4);
  for (int attempt = 0; attempt < 3; ++attempt, buffer.resize(buffer.size() * 4)) {
    length = std::strftime(buffer.data(), buffer.size(), format.c_str(), &time);
    if (length != 0) return std::string(buffer.data(), length);
  }
  return {};
}

}  // namespace

TRegionalFormats TRegionalFormats::FromLocale() {
  TRegionalFormats formats;
  const char* name = std::setlocale(LC_TIME, nullptr);
  if (name == nullptr || IsPlainLocale(name)) return formats;
  const char* date = nl_langinfo(D_FMT);
  const char* time = nl_langinfo(T_FMT);
  if (date != nullptr && *date != '\0') formats.ShortDate = date;
  if (time != nullptr && *time != '\0') formats.LongTime = time;
  return formats;
}

std::string TRegionalFormats::FormatDate(const std::tm& time) const { return Format(ShortDate, time); }

std::string TRegionalFormats::FormatTime(const std::tm& time) const { return Format(LongTime, time); }

}  // namespace platform
