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

std::string Format(const std::string& format, const std::tm& time) {
  if (format.empty()) return {};
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
