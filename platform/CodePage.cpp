#include "platform/CodePage.h"

#include <langinfo.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <string>

namespace platform {
namespace {

std::atomic<TCodePage> gCodePage{TCodePage::Utf8};

bool IsShiftJisName(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
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

bool IsLeadByte(unsigned char c) {
  return HasLeadBytes() && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

std::size_t FindText(std::string_view text, std::string_view sub, std::size_t from) {
  if (!HasLeadBytes()) return text.find(sub, from);
  if (from > text.size() || sub.size() > text.size()) return std::string_view::npos;
  // Walk character by character so that a match never starts on a trail byte.
  std::size_t i = 0;
  while (i < from) i += IsLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
  for (; i + sub.size() <= text.size(); i += IsLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1) {
    if (text.compare(i, sub.size(), sub) == 0) return i;
  }
  return std::string_view::npos;
}

}  // namespace platform
