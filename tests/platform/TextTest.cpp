#include "platform/Text.h"

#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using platform::TCodePage;

// Strict UTF-8: the forms RFC 3629 rules out
struct Utf8Case {
  const char* bytes;
  bool valid;
};
const Utf8Case kUtf8[] = {
    {"", true},
    {"plain /a.txt", true},
    {"\xE6\x97\xA5\xE6\x9C\xAC", true},  // 日本
    {"\xF0\x9F\x98\x80", true},          // U+1F600, four bytes
    {"\xF4\x8F\xBF\xBF", true},          // U+10FFFF, the last code point
    {"\xC0\xAF", false},                 // overlong "/"
    {"\xE0\x80\xAF", false},             // overlong "/" in three bytes
    {"\xF0\x80\x80\xAF", false},         // overlong "/" in four bytes
    {"\xED\xA0\x80", false},             // U+D800, a surrogate
    {"\xF4\x90\x80\x80", false},         // U+110000
    {"\xE6\x97", false},                 // cut short
    {"\x80", false},                     // stray continuation byte
    {"\xFF", false},
};

TEST(Text, ValidatesUtf8Strictly) {
  for (const Utf8Case& c : kUtf8) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
    EXPECT_EQ(platform::IsValidUtf8(c.bytes), c.valid);
    // A request path that is not UTF-8 converts to nothing in either code page.
    if (!c.valid) {
      EXPECT_EQ(platform::Utf8ToCodePage(c.bytes, TCodePage::Utf8), "");
      EXPECT_EQ(platform::Utf8ToCodePage(c.bytes, TCodePage::ShiftJis), "");
    }
  }
}

// Request paths into the code page; Shift-JIS bytes from the CP932 table
TEST(Text, ConvertsRequestPathsToTheCodePage) {
  EXPECT_EQ(platform::Utf8ToCodePage("/\xE6\x97\xA5\xE6\x9C\xAC/a b", TCodePage::Utf8), "/\xE6\x97\xA5\xE6\x9C\xAC/a b");
  EXPECT_EQ(platform::Utf8ToCodePage("/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\\x", TCodePage::ShiftJis),
            "/\x93\xFA\x96\x7B\x8C\xEA\\x");                                              // 日本語, "\" stays 0x5C
  EXPECT_EQ(platform::Utf8ToCodePage("\xE8\xA1\xA8", TCodePage::ShiftJis), "\x95\x5C");  // 表: trail byte "\"
  EXPECT_EQ(platform::Utf8ToCodePage("\xEF\xBD\xB1", TCodePage::ShiftJis), "\xB1");      // half-width ｱ
  EXPECT_EQ(platform::Utf8ToCodePage("a\xED\x95\x9C" "b\xF0\x9F\x98\x80", TCodePage::ShiftJis), "a?b?");  // 한, emoji
}

// iconv's CP932 table maps "¥" onto "\" and "‾" onto "~": a request for /..¥..¥x must not
// gain separators on the way into the code page.
TEST(Text, RefusesBestFitMappingsOntoAscii) {
  EXPECT_EQ(platform::Utf8ToCodePage("/..\xC2\xA5..\xC2\xA5x", TCodePage::ShiftJis), "/..?..?x");
  EXPECT_EQ(platform::Utf8ToCodePage("\xE2\x80\xBE", TCodePage::ShiftJis), "?");
}

// Code-page text into UTF-8 for the index
TEST(Text, WidensCodePageTextWithReplacements) {
  EXPECT_EQ(platform::CodePageToUtf8("\x93\xFA\x96\x7B.txt", TCodePage::ShiftJis), "\xE6\x97\xA5\xE6\x9C\xAC.txt");
  EXPECT_EQ(platform::CodePageToUtf8("\xB1", TCodePage::ShiftJis), "\xEF\xBD\xB1");
  EXPECT_EQ(platform::CodePageToUtf8("\x87\x40", TCodePage::ShiftJis), "\xE2\x91\xA0");  // ① from the CP932 extensions
  EXPECT_EQ(platform::CodePageToUtf8("a\x80" "b", TCodePage::ShiftJis), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(platform::CodePageToUtf8("a\x93", TCodePage::ShiftJis), "a\xEF\xBF\xBD");  // lead byte at the end
  // An unassigned pair is one bad character, not a bad byte and an "@".
  EXPECT_EQ(platform::CodePageToUtf8("\x85\x40", TCodePage::ShiftJis), "\xEF\xBF\xBD");
  EXPECT_EQ(platform::CodePageToUtf8("ok\xE6\x97\xA5", TCodePage::Utf8), "ok\xE6\x97\xA5");
  EXPECT_EQ(platform::CodePageToUtf8("bad\xFF\xC0\xAF.txt", TCodePage::Utf8),
            "bad\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.txt");
  EXPECT_TRUE(platform::IsValidUtf8(platform::CodePageToUtf8("\xED\xA0\x80\xF4\x90\x80\x80", TCodePage::Utf8)));
}

// Display columns
struct WidthCase {
  const char* text;
  TCodePage codePage;
  std::size_t width;
};
const WidthCase kWidths[] = {
    {"", TCodePage::Utf8, 0},
    {"a.txt", TCodePage::Utf8, 5},
    {"\xE6\x97\xA5\xE6\x9C\xAC", TCodePage::Utf8, 4},  // 日本: W
    {"\xEF\xBC\xA1", TCodePage::Utf8, 2},              // Ａ fullwidth: F
    {"\xEF\xBD\xB1", TCodePage::Utf8, 1},              // ｱ half-width: H
    {"\xC3\xA9", TCodePage::Utf8, 1},                  // é
    {"\xF0\x9F\x98\x80", TCodePage::Utf8, 2},          // emoji: W
    {"\xE3\x80\x80", TCodePage::Utf8, 2},              // ideographic space: F
    {"a\xFF" "b", TCodePage::Utf8, 3},                 // a bad byte counts one
    {"\x93\xFA\x96\x7B", TCodePage::ShiftJis, 4},      // 日本
    {"\xB1\xB2", TCodePage::ShiftJis, 2},              // ｱｲ half-width single bytes
    {"\x95\x5C", TCodePage::ShiftJis, 2},              // 表
    {"ab\xE6\x97\xA5", TCodePage::Utf8, 4},             // an ASCII run, then a wide character
    {"ab\x93\xFA" "c", TCodePage::ShiftJis, 5},          // an ASCII run, then a double-byte one
    {"\xE1\x83\xBF\xE1\x84\x80", TCodePage::Utf8, 3},    // U+10FF narrow, U+1100 the first wide
};

// Each thread converts with handles of its own: conversions at once on several threads give
// the same texts as one at a time.
TEST(Text, ConvertsOnSeveralThreadsAtOnce) {
  const std::string shiftJis = "\x93\xFA\x96\x7B\x95\x5C.txt";  // 日本表.txt
  const std::string utf8 = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xA1\xA8.txt";
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int& failed : failures) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        if (platform::CodePageToUtf8(shiftJis, TCodePage::ShiftJis) != utf8) ++failed;
        if (platform::Utf8ToCodePage(utf8, TCodePage::ShiftJis) != shiftJis) ++failed;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(Text, CountsDisplayColumns) {
  for (const WidthCase& c : kWidths) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    EXPECT_EQ(platform::DisplayWidth(c.text, c.codePage), c.width);
  }
}

}  // namespace
