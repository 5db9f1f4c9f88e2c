#include "platform/FilePath.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/TestTree.h"

namespace {

struct ExpandCase {
  const char* path;
  const char* expanded;
};
const ExpandCase kExpand[] = {
    {"/pub", "/pub"},
    {"/pub/", "/pub/"},
    {"/pub/sub/../a.txt", "/pub/a.txt"},
    {"/pub\\sub\\a.txt", "/pub/sub/a.txt"},  // "\" separates too
    {"/pub//sub///", "/pub/sub/"},           // repeated separators count as one
    {"/pub/./a/./b", "/pub/a/b"},
    {"/pub/../../../etc/passwd", "/etc/passwd"},  // never above "/"
    {"/pub/sub/..", "/pub"},
    {"/pub/sub/../", "/pub/"},
    {"/..", "/"},
    {"/", "/"},
    {"/pub/a..b/...", "/pub/a..b/..."},  // only whole "." and ".." segments are special
};

TEST(FilePath, ExpandsLexically) {
  for (const ExpandCase& c : kExpand) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(platform::ExpandFileName(c.path), c.expanded);
  }
}

TEST(FilePath, ExpandsRelativePathsAgainstTheWorkingDirectory) {
  char buffer[4096];
  ASSERT_NE(getcwd(buffer, sizeof buffer), nullptr);
  const std::string cwd = buffer;
  EXPECT_EQ(platform::ExpandFileName("a/b.txt"), platform::ExpandFileName(cwd + "/a/b.txt"));
  EXPECT_EQ(platform::ExpandFileName(""), platform::ExpandFileName(cwd));
  EXPECT_EQ(platform::ExpandFileName("x/"), platform::ExpandFileName(cwd + "/x/"));
}

// In Shift-JIS 表 is 0x95 0x5C: its trail byte must not split the segment.
TEST(FilePath, KeepsShiftJisTrailBytesInsideSegments) {
  const testing_tree::TScopedCodePage codePage(platform::TCodePage::ShiftJis);
  EXPECT_EQ(platform::ExpandFileName("/pub/\x95\\/a"), "/pub/\x95\\/a");
  EXPECT_EQ(platform::ExpandFileName("/pub/\x95\\"), "/pub/\x95\\");
  EXPECT_EQ(platform::ExpandFileName("/pub/\x95\\\\"), "/pub/\x95\\/");
}

TEST(FilePath, JoinsWithOneSeparator) {
  EXPECT_EQ(platform::JoinPath("/pub", "a"), "/pub/a");
  EXPECT_EQ(platform::JoinPath("/pub/", "a"), "/pub/a");
  EXPECT_EQ(platform::JoinPath("/pub", ""), "/pub/");
}

}  // namespace
