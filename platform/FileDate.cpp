#include "platform/FileDate.h"

namespace platform {
namespace {

constexpr TFileDate kFirst = (0 << 25) | (1 << 21) | (1 << 16);  // 1980-01-01 00:00:00
// 2107-12-31 23:59:58; the year bits reach the sign bit, so the value is negative.
constexpr TFileDate kLast = static_cast<TFileDate>((127u << 25) | (12u << 21) | (31u << 16) |
                                                   (23u << 11) | (59u << 5) | 29u);

}  // namespace

TFileDate PackFileDate(const std::tm& local) {
  const int year = local.tm_year + 1900;
  if (year < 1980) return kFirst;
  if (year > 2107) return kLast;
  const auto bits = (static_cast<std::uint32_t>(year - 1980) << 25) |
                    (static_cast<std::uint32_t>(local.tm_mon + 1) << 21) |
                    (static_cast<std::uint32_t>(local.tm_mday) << 16) |
                    (static_cast<std::uint32_t>(local.tm_hour) << 11) |
                    (static_cast<std::uint32_t>(local.tm_min) << 5) |
                    static_cast<std::uint32_t>(local.tm_sec / 2);
  return static_cast<TFileDate>(bits);
}

TFileDate FileDateFromTime(std::time_t moment) { return PackFileDate(LocalTm(moment)); }

TFileDate DateTimeToFileDate(TDateTime value) { return PackFileDate(TmFromDateTime(value)); }

TDateTime FileDateToDateTime(TFileDate fileDate) {
  const auto bits = static_cast<std::uint32_t>(fileDate);
  TDateTime date = 0, time = 0;
  TryEncodeDate(1980 + static_cast<int>(bits >> 25), (bits >> 21) & 0x0F, (bits >> 16) & 0x1F, date);
  TryEncodeTime((bits >> 11) & 0x1F, (bits >> 5) & 0x3F, (bits & 0x1F) * 2, 0, time);
  return date + time;
}

}  // namespace platform
