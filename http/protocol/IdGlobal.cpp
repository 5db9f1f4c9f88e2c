#include "http/protocol/IdGlobal.h"

#include "http/net/IdException.h"
#include "platform/CodePage.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>
#include <optional>

using platform::TDateTime;

namespace {

const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// Header dates are written at every response: digit by digit, not through a format parser.
void AppendNumber(std::string& text, int value) {
  char digits[12];
  text.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

// Two digits of a value from 0 to 99, as "%02d" writes it.
void AppendTwoDigits(std::string& text, int value) {
  text += static_cast<char>('0' + value / 10);
  text += static_cast<char>('0' + value % 10);
}

// The 1-based number of text among the three-letter names, 0 when it is none of them.
int NameNumber(std::string_view text, const char* const* names, int count) {
  for (int i = 0; i < count; ++i) {
    if (SameText(text, names[i])) return i + 1;
  }
  return 0;
}

// The token before a delimiter found at the 1-based pos (0: none), cut off text when remove.
std::string CutToken(std::string& text, int pos, std::size_t delimiterLength, bool remove) {
  if (pos == 0) {
    std::string result = text;
    if (remove) text.clear();
    return result;
  }
  std::string result = text.substr(0, pos - 1);
  if (remove) text.erase(0, pos - 1 + delimiterLength);
  return result;
}

// The date and time at the front of text, or nothing when a part is impossible.
std::optional<TDateTime> ReadDateAndTime(std::string& text) {
  if (DayNumber(std::string_view(text).substr(0, 3)) > 0) {
    TakeToken(text, " ");
    text = TrimLeft(text);
  }
  const int dashPos = TextPos("-", text);
  const std::string delimiter = dashPos > 1 && dashPos < TextPos(" ", text) ? "-" : " ";

  int day = 0, month = 0;
  auto readDay = [&] {
    day = StrToIntDef(TakeToken(text, delimiter), 1);
    text = TrimLeft(text);
  };
  auto readMonth = [&] {
    month = MonthNumber(TakeToken(text, delimiter));
    text = TrimLeft(text);
  };
  std::string ahead = text;
  if (MonthNumber(TakeToken(ahead, delimiter, false)) > 0) {
    readMonth();
    readDay();
  } else {
    readDay();
    readMonth();
  }

  // A form such as asctime puts the time before the year: the year is then the rest. A token that
  // is a number is the year, 1900 included.
  std::string token = TakeToken(text, " ");
  std::int64_t year = 0;
  if (!TryStrToInt64(token, year)) {
    year = StrToIntDef(text, 1900);
    text = token;
  }
  if (year < 0 || year > 9999) return std::nullopt;
  if (year < 80) {
    year += 2000;
  } else if (year < 100) {
    year += 1900;
  }

  TDateTime result = 0;
  if (!platform::TryEncodeDate(static_cast<int>(year), month, day, result)) return std::nullopt;
  if (TextPos(":", text) > 0) {
    std::string clock = TakeToken(text, " ");
    const int hour = StrToIntDef(TakeToken(clock, ":"), 0);
    const int minute = StrToIntDef(TakeToken(clock, ":"), 0);
    const int second = StrToIntDef(TakeToken(clock, " "), 0);
    TDateTime time = 0;
    if (!platform::TryEncodeTime(hour, minute, second, 0, time)) return std::nullopt;
    result = platform::IncDateTime(result, time);
  }
  text = TrimLeft(text);
  return result;
}

// The offset of the zone part that ParseInternetDate left: a zone name (GMT, UTC) counts as 0.
TDateTime ZoneOffset(const std::string& zone) { return zone.size() > 4 ? OffsetTextToDateTime(zone) : 0; }

}  // namespace

// Header dates

std::string InternetDateText(TDateTime value) {
  const TDateTime gmt = platform::IncDateTime(value, -LocalUtcOffset());
  const platform::TDateParts parts = platform::DecodeDateTime(gmt);
  std::string text;
  text.reserve(32);
  text += kDayNames[platform::DayOfWeek(gmt) - 1];
  text += ", ";
  AppendTwoDigits(text, parts.Day);
  text += ' ';
  text += MonthName(parts.Month);
  text += ' ';
  AppendNumber(text, parts.Year);
  text += ' ';
  AppendTwoDigits(text, parts.Hour);
  text += ':';
  AppendTwoDigits(text, parts.Minute);
  text += ':';
  AppendTwoDigits(text, parts.Second);
  text += " GMT";
  return text;
}

TDateTime LocalUtcOffset() {
  long offset = 0;
  if (!platform::LocalUtcOffsetSeconds(platform::Now(), offset)) throw EIdFailedToRetreiveTimeZoneInfo();
  // The bias counts minutes west of Greenwich, as the offset of local time from UTC negated.
  const long bias = -std::lround(static_cast<double>(offset) / 60.0);
  const long magnitude = std::labs(bias);
  TDateTime result = 0;
  if (!platform::TryEncodeTime(static_cast<int>(magnitude / 60), static_cast<int>(magnitude % 60), 0,
                               0, result))
    throw EIdFailedToRetreiveTimeZoneInfo();
  return bias > 0 ? -result : result;
}

TDateTime ParseInternetDate(std::string& text) {
  text = Trim(text);
  if (text.empty()) return 0;
  return ReadDateAndTime(text).value_or(0);
}

TDateTime OffsetTextToDateTime(const std::string& text) {
  const std::string zone = Trim(text).substr(0, 5);
  if (zone.empty() || (zone[0] != '+' && zone[0] != '-')) return 0;
  std::int64_t hours = 0, minutes = 0;
  TDateTime result = 0;
  if (zone.size() < 5 || !TryStrToInt64(zone.substr(1, 2), hours) ||
      !TryStrToInt64(zone.substr(3, 2), minutes) ||
      !platform::TryEncodeTime(static_cast<int>(hours), static_cast<int>(minutes), 0, 0, result))
    return 0;
  return zone[0] == '-' ? -result : result;
}

TDateTime HeaderDateToUtc(std::string text) {
  const TDateTime value = ParseInternetDate(text);
  if (value == 0) return 0;
  return platform::IncDateTime(value, -ZoneOffset(text));
}

TDateTime HeaderDateToLocal(std::string text) {
  const TDateTime value = ParseInternetDate(text);
  if (value == 0) return 0;
  return platform::IncDateTime(value, LocalUtcOffset() - ZoneOffset(text));
}

int DayNumber(std::string_view text) { return NameNumber(text, kDayNames, 7); }

int MonthNumber(std::string_view text) { return NameNumber(text, kMonthNames, 12); }

const char* MonthName(int month) { return kMonthNames[month - 1]; }

// Tokens and searches

std::string TakeToken(std::string& text, const std::string& delimiter, bool remove, bool caseSensitive) {
  if (!caseSensitive) return TakeTokenNoCase(text, delimiter, remove);
  // TextPos steps over double-byte characters; a NUL delimiter is a plain byte.
  int pos = 0;
  if (delimiter.size() == 1 && delimiter[0] == '\0') {
    const std::size_t found = text.find('\0');
    pos = found == std::string::npos ? 0 : static_cast<int>(found) + 1;
  } else {
    pos = TextPos(delimiter, text);
  }
  return CutToken(text, pos, delimiter.size(), remove);
}

std::string TakeTokenNoCase(std::string& text, const std::string& delimiter, bool remove) {
  const int pos = TextPos(UpperCase(delimiter), UpperCase(text));
  return CutToken(text, pos, delimiter.size(), remove);
}

int LastPos(const std::string& sub, const std::string& text, int start) {
  if (sub.empty() || sub.size() > text.size()) return 0;
  const int length = static_cast<int>(text.size());
  const int lastStart = length - static_cast<int>(sub.size()) + 1;
  if (start == -1) start = length;
  if (start >= lastStart) start = lastStart;
  for (int i = start; i >= 1; --i) {
    if (SameText(std::string_view(text).substr(i - 1, sub.size()), sub)) return i;
  }
  return 0;
}

int TextPos(const std::string& sub, const std::string& text) {
  if (sub.empty()) return 0;
  const std::size_t found = platform::FindText(text, sub);
  return found == std::string_view::npos ? 0 : static_cast<int>(found) + 1;
}

// Text conversions

std::string UpperCase(std::string text) {
  for (char& c : text) c = platform::AsciiUpper(c);
  return text;
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = platform::AsciiLower(c);
  return text;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && platform::AsciiUpper(a[i]) != platform::AsciiUpper(b[i])) return false;
  }
  return true;
}

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}

std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

std::string TrimLeft(std::string_view text) {
  std::size_t first = 0;
  while (first < text.size() && IsBlankOrControl(text[first])) ++first;
  return std::string(text.substr(first));
}

std::string TrimRight(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlankOrControl(text[end - 1])) --end;
  return std::string(text.substr(0, end));
}

bool TryStrToInt64(std::string_view text, std::int64_t& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return false;
  const char* end = text.data() + text.size();
  std::int64_t parsed = 0;
  const auto [ptr, error] = std::from_chars(text.data(), end, parsed);
  if (error != std::errc() || ptr != end) return false;
  value = parsed;
  return true;
}

int StrToIntDef(std::string_view text, int fallback) {
  std::int64_t value = 0;
  if (!TryStrToInt64(text, value) || value < std::numeric_limits<int>::min() ||
      value > std::numeric_limits<int>::max())
    return fallback;
  return static_cast<int>(value);
}

std::int64_t StrToInt64Def(std::string_view text, std::int64_t fallback) {
  std::int64_t value = 0;
  return TryStrToInt64(text, value) ? value : fallback;
}
