#include "publish/LogEscape.h"

#include <gtest/gtest.h>

#include "platform/TestTree.h"

namespace {

// Regression: a request for "/%C2%9B2J" wrote U+009B, a terminal control, into the log, and
// U+2028 and U+202E let a path forge what a log viewer shows.
TEST(LogEscape, ControlsAndBytesThatAreNoCharacterAreEscaped) {
  const testing_tree::TScopedCodePage utf8(platform::TCodePage::Utf8);
  struct Case {
    std::string text;
    const char* shown;
  };
  const Case cases[] = {
      {"/docs/a.txt 192.0.2.5", "/docs/a.txt 192.0.2.5"},
      {"/\xE5\x86\x99\xE7\x9C\x9F \xC3\xA9", "/\xE5\x86\x99\xE7\x9C\x9F \xC3\xA9"},  // 写真 é
      {"/\xC2\x9B" "2J", "/\\u{009B}2J"},                                              // C1: CSI
      {"/\xC2\x85\xC2\x80\xC2\x9F", "/\\u{0085}\\u{0080}\\u{009F}"},
      {"a\xE2\x80\xA8" "b\xE2\x80\xA9", "a\\u{2028}b\\u{2029}"},                        // line separators
      {"x\xE2\x80\xAEtxt.exe", "x\\u{202E}txt.exe"},                                   // right-to-left override
      {"\xE2\x80\xAA\xE2\x81\xA6\xE2\x81\xA9\xE2\x80\x8F\xD8\x9C", "\\u{202A}\\u{2066}\\u{2069}\\u{200F}\\u{061C}"},
      {std::string("\x1B[2J\r\n\t\x7F\0", 9), "\\u{001B}[2J\\u{000D}\\u{000A}\\u{0009}\\u{007F}\\u{0000}"},
      {"/\xFF\xC3/\xE3\x81", "/\\xFF\\xC3/\\xE3\\x81"},                                 // no UTF-8
      {"/\xC0\xAF", "/\\xC0\\xAF"},                                                     // overlong "/"
      {"a\\u{202E}\\x41", "a\\\\u{202E}\\\\x41"},  // typed escapes cannot pass for real ones
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(EscapeLogText(c.text), c.shown);
  }
}

TEST(LogEscape, ShiftJisLinesKeepTheirCharacters) {
  const testing_tree::TScopedCodePage shiftJis(platform::TCodePage::ShiftJis);
  // あ, a half-width katakana, and the trail byte 0x5C of 表, which is no backslash.
  EXPECT_EQ(EscapeLogText("/\x82\xA0\xB1\x95\x5C"), "/\x82\xA0\xB1\x95\x5C");
  // A lead byte without its trail, bytes that are no character, a control.
  EXPECT_EQ(EscapeLogText("/\x82/\xFD\xA0\x80\x1B\\"), "/\\x82/\\xFD\\xA0\\x80\\u{001B}\\\\");
}

}  // namespace
