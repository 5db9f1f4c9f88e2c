#include "publish/HtmlText.h"

#include <gtest/gtest.h>

namespace {

TEST(HtmlText, EscapesTheFourMarkupCharacters) {
  EXPECT_EQ(HtmlEscape(""), "");
  EXPECT_EQ(HtmlEscape("a&b<c>d\"e'f #%+"), "a&amp;b&lt;c&gt;d&quot;e'f #%+");
  EXPECT_EQ(HtmlEscape("&amp;"), "&amp;amp;");  // escaped once more, never taken as already escaped
  EXPECT_EQ(HtmlEscape("\x93\xFA\x95\x5C"), "\x93\xFA\x95\x5C");  // bytes above 0x7F pass untouched
}

TEST(HtmlText, PercentEncodesAllButUnreservedBytes) {
  EXPECT_EQ(PercentEncode("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(PercentEncode("a b#c%d+e?f&g/h\\i\"<>"), "a%20b%23c%25d%2Be%3Ff%26g%2Fh%5Ci%22%3C%3E");
  EXPECT_EQ(PercentEncode("\xE6\x97\xA5\x01\xFF"), "%E6%97%A5%01%FF");  // upper-case hex digits
  EXPECT_EQ(PercentEncode(std::string("a\0b", 3)), "a%00b");
}

TEST(HtmlText, QueryKeepsItsDelimitersAndEscapes) {
  std::string out = "?";
  AppendQueryEncoded(out, "a=1&b=%20 c\"!$'()*+,;:@/?~\xC3\xA9");
  EXPECT_EQ(out, "?a=1&b=%20%20c%22!$'()*+,;:@/?~%C3%A9");
}

// The appending forms add to what is there; runs of plain bytes before, between and after
// the escapes all arrive.
TEST(HtmlText, AppendsToWhatIsThere) {
  std::string out = "<A>";
  AppendHtmlEscaped(out, "&x<<y\"");
  AppendHtmlEscaped(out, "");
  AppendPercentEncoded(out, " a/b ");
  AppendPercentEncoded(out, "plain");
  EXPECT_EQ(out, "<A>&amp;x&lt;&lt;y&quot;%20a%2Fb%20plain");
}

}  // namespace
