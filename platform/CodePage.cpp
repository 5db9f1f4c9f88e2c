#include "platform/CodePage.h"

#include <langinfo.h>

#include <algorithm>
#include <atomic>
#include <string>

namespace platform {
namespace {

std::atomic<TCodePage> gCodePage{TCodePage::Utf8};

bool IsShiftJisName(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), AsciiUpper);
  return name == "SHIFT_JIS" || name == "SJIS" || name == "CP932" || name == "WINDOWS-31J";
}

}  // namespace

TCodePage DetectSystemCodePage() {
  const char* codeSet = nl_langinfo(CODESET);
  return codeSet != nullptr && IsShiftJisName(codeSet) ? TCodePage::ShiftJis : TCodePage::Utf8;
}

TCodePage SystemCodePage() { return gCodePage.load(std::memory_order_relaxed); }

void SetSystemCodePage(TCodePage codePage) { gCodePage.store(codePage, std::memory_order_relaxed); }

bool HasLeadBytes() { return SystemCodePage() == TCodePage::ShiftJis; }

bool IsShiftJisLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

bool IsLeadByte(unsigned char c) { return HasLeadBytes() && IsShiftJisLeadByte(c); }

std::size_t CharLength(std::string_view text, std::size_t pos) {
  return IsLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

std::size_t FindText(std::string_view text, std::string_view sub, std::size_t from) {
  if (!HasLeadBytes()) return text.find(sub, from);
  if (from > text.size() || sub.size() > text.size()) return std::string_view::npos;
  // Walk character by character so that a match never starts on a trail byte.
  std::size_t i = 0;
  while (i < from) i += CharLength(text, i);
  for (; i + sub.size() <= text.size(); i += CharLength(text, i)) {
    if (text.compare(i, sub.size(), sub) == 0) return i;
  }
  return std::string_view::npos;
}

}  // namespace platform
