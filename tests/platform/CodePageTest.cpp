#include "platform/CodePage.h"

#include <gtest/gtest.h>

namespace {

class CodePageTest : public ::testing::Test {
protected:
  void TearDown() override { platform::SetSystemCodePage(platform::TCodePage::Utf8); }
};

TEST_F(CodePageTest, LeadBytesExistOnlyInShiftJis) {
  platform::SetSystemCodePage(platform::TCodePage::Utf8);
  EXPECT_FALSE(platform::IsLeadByte(0x81));
  EXPECT_FALSE(platform::IsLeadByte(0xE3));
  platform::SetSystemCodePage(platform::TCodePage::ShiftJis);
  EXPECT_TRUE(platform::IsLeadByte(0x81));
  EXPECT_TRUE(platform::IsLeadByte(0x9F));
  EXPECT_TRUE(platform::IsLeadByte(0xE0));
  EXPECT_TRUE(platform::IsLeadByte(0xFC));
  EXPECT_FALSE(platform::IsLeadByte(0x80));
  EXPECT_FALSE(platform::IsLeadByte(0xA0));
  EXPECT_FALSE(platform::IsLeadByte(0xFD));
  EXPECT_FALSE(platform::IsLeadByte('\\'));
}

// "表" is 0x95 0x5C in Shift-JIS: its trail byte is a backslash.
TEST_F(CodePageTest, SearchStepsOverTrailBytes) {
  const std::string text = "a\x95\\b\\c";
  platform::SetSystemCodePage(platform::TCodePage::ShiftJis);
  EXPECT_EQ(platform::FindText(text, "\\"), 4u);
  EXPECT_EQ(platform::FindText(text, "\\", 5), std::string::npos);
  EXPECT_EQ(platform::FindText(text, "a"), 0u);
  EXPECT_EQ(platform::FindText(text, ""), 0u);
  platform::SetSystemCodePage(platform::TCodePage::Utf8);
  EXPECT_EQ(platform::FindText(text, "\\"), 2u);
}

}  // namespace
