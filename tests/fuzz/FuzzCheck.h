#pragma once
// What the fuzz targets share: a broken invariant stops the run like a crash, so that libFuzzer
// keeps the input that broke it, and every target can run its checks under both code pages.

#include "platform/CodePage.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

/// Aborts with the condition's text and place when it does not hold.
#define FUZZ_CHECK(condition)                                                                 \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                           \
    }                                                                                         \
  } while (false)

namespace fuzz {

/// Runs check once with UTF-8 and once with Shift-JIS as the system code page.
template <typename Check>
void ForEachCodePage(Check check) {
  for (platform::TCodePage codePage : {platform::TCodePage::Utf8, platform::TCodePage::ShiftJis}) {
    platform::SetSystemCodePage(codePage);
    check(codePage);
  }
}

/// Whether text has no blank or control character (any byte up to 0x20) at either end.
inline bool IsTrimmed(std::string_view text) {
  auto blankOrControl = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  return text.empty() || (!blankOrControl(text.front()) && !blankOrControl(text.back()));
}

}  // namespace fuzz
