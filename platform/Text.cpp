#include "platform/Text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "platform/EastAsianWidth.h"

namespace platform {
namespace {

const char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr const char* kCodePage932 = "CP932";   // glibc's name; maps 0x5C to "\", as Windows does

// The length of the well-formed UTF-8 character at text[pos], its code point in codePoint;
// 0 when no well-formed character starts there.
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& codePoint) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  const unsigned char first = byte(0);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (first < 0x80) {
    codePoint = first;
    return 1;
  }
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2, minimum = 0x80, codePoint = first & 0x1F;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3, minimum = 0x800, codePoint = first & 0x0F;
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4, minimum = 0x10000, codePoint = first & 0x07;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (byte(i) & 0x3F);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
    return 0;
  return length;
}

bool IsShiftJisTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// An iconv conversion descriptor, closed when it goes out of scope.
class TIconv {
public:
  TIconv(const char* to, const char* from) : FHandle(iconv_open(to, from)) {
    if (FHandle == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
  }
  ~TIconv() { iconv_close(FHandle); }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;

  // Converts exactly the given character into out; false when the target cannot hold it or
  // the source bytes are not a character.
  bool ConvertOne(std::string_view character, std::string& out) {
    char buffer[16];
    char* in = const_cast<char*>(character.data());
    std::size_t inLeft = character.size();
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(FHandle, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    if (iconv(FHandle, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
      return false;
    out.append(buffer, outPtr);
    return true;
  }

private:
  iconv_t FHandle;
};

// One descriptor per thread and direction, opened on first use and kept for the thread's life:
// opening one loads the code page's tables, which costs far more than converting a name, and a
// descriptor holds conversion state, so threads never share one.
TIconv& ToShiftJis() {
  thread_local TIconv converter(kCodePage932, "UTF-8");
  return converter;
}

TIconv& FromShiftJis() {
  thread_local TIconv converter("UTF-8", kCodePage932);
  return converter;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string Utf8ToShiftJis(std::string_view utf8) {
  TIconv& converter = ToShiftJis();
  std::string result;
  result.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t codePoint = 0;
    const std::size_t length = DecodeUtf8(utf8, pos, codePoint);  // the caller validated
    std::string converted;
    if (codePoint < 0x80) {
      result += static_cast<char>(codePoint);
    } else if (converter.ConvertOne(utf8.substr(pos, length), converted) &&
               static_cast<unsigned char>(converted[0]) >= 0x80) {
      result += converted;
    } else {
      // Not in 932, or only by a best fit onto ASCII (iconv turns "¥" into "" and "‾" into
      // "~"), which would let a request smuggle in a separator: the default character instead.
      result += '?';
    }
    pos += length;
  }
  return result;
}

std::string ShiftJisToUtf8(std::string_view text) {
  TIconv& converter = FromShiftJis();
  std::string result;
  result.reserve(text.size() * 3 / 2);
  for (std::size_t pos = 0; pos < text.size();) {
    const auto c = static_cast<unsigned char>(text[pos]);
    const bool pair = IsShiftJisLeadByte(c) && pos + 1 < text.size() &&
                      IsShiftJisTrailByte(static_cast<unsigned char>(text[pos + 1]));
    const std::size_t length = pair ? 2 : 1;
    if (c < 0x80) {
      result += static_cast<char>(c);
    } else if (!converter.ConvertOne(text.substr(pos, length), result)) {
      result += kReplacementUtf8;
    }
    pos += length;
  }
  return result;
}

std::string RepairUtf8(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t codePoint = 0;
    const std::size_t length = DecodeUtf8(text, pos, codePoint);
    if (length == 0) {
      result += kReplacementUtf8;
      ++pos;
    } else {
      result.append(text, pos, length);
      pos += length;
    }
  }
  return result;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  char32_t codePoint = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = DecodeUtf8(text, pos, codePoint);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

std::string Utf8ToCodePage(std::string_view utf8, TCodePage codePage) {
  if (!IsValidUtf8(utf8)) return {};
  return codePage == TCodePage::ShiftJis ? Utf8ToShiftJis(utf8) : std::string(utf8);
}

std::string CodePageToUtf8(std::string_view text, TCodePage codePage) {
  if (IsAscii(text)) return std::string(text);  // the same bytes in every code page
  return codePage == TCodePage::ShiftJis ? ShiftJisToUtf8(text) : RepairUtf8(text);
}

std::size_t DecodeCharacter(std::string_view text, std::size_t pos, char32_t& codePoint, TCodePage codePage) {
  const auto c = static_cast<unsigned char>(text[pos]);
  if (codePage == TCodePage::Utf8 || c < 0x80) return DecodeUtf8(text, pos, codePoint);
  const bool lead = IsShiftJisLeadByte(c);
  if (lead && (pos + 1 == text.size() || !IsShiftJisTrailByte(static_cast<unsigned char>(text[pos + 1])))) return 0;
  const std::size_t length = lead ? 2 : 1;
  std::string utf8;
  if (!FromShiftJis().ConvertOne(text.substr(pos, length), utf8) || DecodeUtf8(utf8, 0, codePoint) == 0) return 0;
  return length;
}

std::size_t DisplayWidth(std::string_view text, TCodePage codePage) {
  // An ASCII byte is one column in either code page: most names are counted by this loop alone.
  std::size_t pos = 0;
  while (pos < text.size() && static_cast<unsigned char>(text[pos]) < 0x80) ++pos;
  std::size_t width = pos;
  while (pos < text.size()) {
    const auto c = static_cast<unsigned char>(text[pos]);
    if (codePage == TCodePage::ShiftJis) {
      const bool pair = IsShiftJisLeadByte(c) && pos + 1 < text.size();
      width += pair ? 2 : 1;
      pos += pair ? 2 : 1;
      continue;
    }
    char32_t codePoint = 0;
    const std::size_t length = DecodeUtf8(text, pos, codePoint);
    // Nothing below U+1100 is wide, which spares the table search for most characters.
    width += length != 0 && codePoint >= 0x1100 && IsWideCodePoint(codePoint) ? 2 : 1;
    pos += length != 0 ? length : 1;
  }
  return width;
}

}  // namespace platform
