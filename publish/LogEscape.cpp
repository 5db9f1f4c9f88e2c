#include "publish/LogEscape.h"

#include <algorithm>
#include <cstdio>

#include "platform/Text.h"

namespace {

bool IsHiddenControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x061C || c == 0x200E ||
         c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool IsPlainAscii(char c) { return c >= 0x20 && c < 0x7F && c != '\\'; }

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char buffer[16];
  const int length = std::snprintf(buffer, sizeof buffer, format, value);
  out.append(buffer, static_cast<std::size_t>(length));
}

}  // namespace

std::string EscapeLogText(std::string_view text) {
  // Most lines are plain ASCII and leave as they came.
  if (std::all_of(text.begin(), text.end(), IsPlainAscii)) return std::string(text);
  std::string result;
  result.reserve(text.size() + 16);
  for (std::size_t pos = 0; pos < text.size();) {
    if (text[pos] == '\\') {
      result += "\\\\";
      ++pos;
      continue;
    }
    char32_t codePoint = 0;
    const std::size_t length = platform::DecodeCharacter(text, pos, codePoint);
    if (length == 0) {
      AppendEscape(result, "\\x%02X", static_cast<unsigned char>(text[pos]));
      ++pos;
    } else if (IsHiddenControl(codePoint)) {
      AppendEscape(result, "\\u{%04X}", static_cast<unsigned>(codePoint));
      pos += length;
    } else {
      result.append(text, pos, length);
      pos += length;
    }
  }
  return result;
}
