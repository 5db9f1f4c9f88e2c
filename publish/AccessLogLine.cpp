#include "publish/AccessLogLine.h"

#include <cstdlib>

#include "http/protocol/IdGlobal.h"
#include "platform/DateTime.h"

namespace {

void AppendTwoDigits(std::string& text, int value) {
  text += static_cast<char>('0' + value / 10);
  text += static_cast<char>('0' + value % 10);
}

// "[08/Dec/2026:20:09:23 +0900]": the moment in local time with its offset. Where the offset
// cannot be had, the moment is written in UTC and says so.
void AppendLogTime(std::string& line, std::time_t moment) {
  long offset = 0;
  if (!platform::LocalUtcOffsetSeconds(moment, offset)) offset = 0;
  const platform::TDateParts parts = platform::DecodeDateTime(platform::UtcDateTime(moment + offset));
  line += '[';
  AppendTwoDigits(line, parts.Day);
  line += '/';
  line += MonthName(parts.Month);
  line += '/';
  line += std::to_string(parts.Year);
  line += ':';
  AppendTwoDigits(line, parts.Hour);
  line += ':';
  AppendTwoDigits(line, parts.Minute);
  line += ':';
  AppendTwoDigits(line, parts.Second);
  line += offset < 0 ? " -" : " +";
  const long minutes = std::labs(offset) / 60;
  AppendTwoDigits(line, static_cast<int>(minutes / 60 % 100));
  AppendTwoDigits(line, static_cast<int>(minutes % 60));
  line += ']';
}

// A field that the format writes as "-" when it is empty.
void AppendField(std::string& line, std::string_view text, std::string_view alsoEscaped = {}) {
  line += text.empty() ? std::string("-") : EscapeLogField(text, alsoEscaped);
}

void AppendQuoted(std::string& line, std::string_view text) {
  line += '"';
  AppendField(line, text);
  line += '"';
}

}  // namespace

std::string EscapeLogField(std::string_view text, std::string_view alsoEscaped) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\' || alsoEscaped.find(c) != std::string_view::npos) {
      result += "\\x";
      result += kHex[byte >> 4];
      result += kHex[byte & 0x0F];
    } else {
      result += c;
    }
  }
  return result;
}

std::string AccessLogLine(const TIdHTTPRequestInfo& request, const TIdHTTPRequestOutcome& outcome) {
  std::string line;
  line.reserve(128 + request.RequestLine.size() + request.UserAgent.size() + request.Referer.size());
  AppendField(line, request.RemoteIP);
  line += " - ";
  // The user stands unquoted between blanks and before the bracketed time.
  AppendField(line, request.AuthUser, " []");
  line += ' ';
  AppendLogTime(line, outcome.Received);
  line += ' ';
  AppendQuoted(line, request.RequestLine);
  line += ' ';
  line += std::to_string(outcome.StatusCode);
  line += ' ';
  line += outcome.BodyBytesSent > 0 ? std::to_string(outcome.BodyBytesSent) : std::string("-");
  line += ' ';
  AppendQuoted(line, request.Referer);
  line += ' ';
  AppendQuoted(line, request.UserAgent);
  line += ' ';
  line += std::to_string(outcome.DurationUs);
  return line;
}
