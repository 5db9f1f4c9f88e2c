#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/FindEntries.h"
#include "platform/TestTree.h"

namespace {

using namespace platform;

class FileSystemTest : public ::testing::Test {
protected:
  testing_tree::TTempTree Tree;
};

// Attributes with their Linux meanings
TEST_F(FileSystemTest, ReadsAttributes) {
  Tree.File("plain.txt", "abc");
  Tree.File("locked.txt");
  chmod(Tree.At("locked.txt").c_str(), 0444);
  Tree.File(".secret");
  Tree.Folder("sub");
  Tree.Folder(".cache");
  ASSERT_EQ(mkfifo(Tree.At("pipe").c_str(), 0644), 0);
  Tree.Link("to-sub", "sub");
  Tree.Link("dangling", "nowhere");

  struct Case {
    const char* name;
    std::uint32_t attr;
  };
  const Case cases[] = {
      {"plain.txt", faArchive},
      {"locked.txt", faArchive | faReadOnly},
      {".secret", faArchive | faHidden},
      {"sub", faDirectory},
      {"sub/", faDirectory},
      {".cache/", faDirectory | faHidden},  // the name before a trailing "/" decides
      {"pipe", faSysFile},
      {"to-sub", faDirectory},   // links are followed
      {"dangling", faUnreadable},
      {"missing", faUnreadable},
      {"sub/..", faDirectory},   // ".." is not hidden
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FileGetAttr(Tree.At(c.name)), c.attr);
  }
}

TEST_F(FileSystemTest, TellsFilesFoldersAndRegularFilesApart) {
  Tree.File("a.txt");
  Tree.Folder("sub");
  ASSERT_EQ(mkfifo(Tree.At("pipe").c_str(), 0644), 0);
  Tree.Link("dangling", "nowhere");
  EXPECT_TRUE(FileExists(Tree.At("a.txt")));
  EXPECT_TRUE(IsRegularFile(Tree.At("a.txt")));
  EXPECT_FALSE(DirectoryExists(Tree.At("a.txt")));
  EXPECT_FALSE(FileExists(Tree.At("sub")));
  EXPECT_TRUE(DirectoryExists(Tree.At("sub/")));
  EXPECT_TRUE(FileExists(Tree.At("pipe")));
  EXPECT_FALSE(IsRegularFile(Tree.At("pipe")));  // never to be opened for sending
  EXPECT_FALSE(FileExists(Tree.At("dangling")));
  EXPECT_FALSE(FileExists(Tree.At("*")));  // no wildcard meaning
  EXPECT_FALSE(FileExists(""));
}

TEST_F(FileSystemTest, ReportsSixtyFourBitSizesAndWriteTimes) {
  Tree.File("big.bin");
  ASSERT_EQ(truncate(Tree.At("big.bin").c_str(), 5368709121LL), 0);  // sparse, 5 GiB + 1
  Tree.SetTime("big.bin", 1087651337);
  const TFileInfo info = GetFileInfo(Tree.At("big.bin"));
  EXPECT_EQ(info.Size, 5368709121LL);
  EXPECT_EQ(info.LastWrite, 1087651337);
  EXPECT_EQ(GetFileInfo(Tree.At("big.bin")).Id, info.Id);
  EXPECT_FALSE(GetFileInfo(Tree.Path()).Id == info.Id);
}

// Enumeration: order, filter, patterns
std::vector<std::string> Names(const std::vector<TSearchRec>& entries) {
  std::vector<std::string> names;
  for (const TSearchRec& entry : entries) names.push_back(entry.Name);
  return names;
}

TEST_F(FileSystemTest, EnumeratesDotsFirstThenByNameIgnoringCase) {
  for (const char* name : {"b.txt", "B.txt", "a.TXT", "_x", "Zeta", "alpha", ".dot"}) Tree.File(name);
  Tree.Folder("Beta");
  const std::vector<std::string> expected = {".", "..", ".dot", "_x", "a.TXT", "alpha", "B.txt", "b.txt", "Beta", "Zeta"};
  EXPECT_EQ(Names(FindEntries(Tree.Path(), "*", faAnyFile)), expected);
}

// Long names that share their first eight bytes, a name that is all of another's first eight,
// names equal but for case, and bytes above 0x7F (after every ASCII byte).
TEST_F(FileSystemTest, SortsLongNamesPastTheirFirstEightBytes) {
  for (const char* name : {"zz", "\xe3\x81\x82", "abcdefgha0", "ABCDEFGHZ", "abcdefgh1", "abcdefgh", "abcdefg",
                           "longnamex1", "LongNameX1", "abcdefghA"}) {
    Tree.File(name);
  }
  const std::vector<std::string> expected = {".",         "..",         "abcdefg",    "abcdefgh",   "abcdefgh1", "abcdefghA",
                                             "abcdefgha0", "ABCDEFGHZ", "LongNameX1", "longnamex1", "zz",        "\xe3\x81\x82"};
  EXPECT_EQ(Names(FindEntries(Tree.Path(), "*", faAnyFile)), expected);
}

// The same past the first sixteen bytes, where the cheap comparison of names ends: case and
// length decide only there, and a double-byte character may straddle the sixteenth byte.
TEST_F(FileSystemTest, SortsNamesThatShareTheirFirstSixteenBytes) {
  for (const char* name : {"IMG_20231204_1234b.jpg", "img_20231204_1234A.jpg", "IMG_20231204_123", "img_20231204_1234",
                           "IMG_20231204_12", "IMG_20231204_1234a.jpg"}) {
    Tree.File(name);
  }
  const std::vector<std::string> expected = {".", "..", "IMG_20231204_12", "IMG_20231204_123", "img_20231204_1234",
                                             "IMG_20231204_1234a.jpg", "img_20231204_1234A.jpg", "IMG_20231204_1234b.jpg"};
  EXPECT_EQ(Names(FindEntries(Tree.Path(), "*", faAnyFile)), expected);

  const testing_tree::TScopedCodePage shiftJis(TCodePage::ShiftJis);
  const std::string start(15, 'a');
  for (const std::string& name : {start + "\x83\x61", start + "\x83" "B", start + "B", start + "\x83"}) Tree.File(name);
  const std::vector<std::string> straddling = {start + "B", start + "\x83", start + "\x83" "B", start + "\x83\x61"};
  EXPECT_EQ(Names(FindEntries(Tree.Path(), "aaa*", faAnyFile)), straddling);
}

// On Shift-JIS a trail byte that looks like an ASCII capital is not folded: 83 42 sorts before
// 83 61, where it would sort after if its "B" were taken as "b". A lone lead byte at the end is
// a character of its own.
TEST_F(FileSystemTest, SortsDoubleByteNamesByTheirBytes) {
  const testing_tree::TScopedCodePage shiftJis(TCodePage::ShiftJis);
  for (const char* name : {"\x83\x41", "\x83\x40", "\x83\x61", "\x83" "B", "a", "\x83"}) Tree.File(name);
  const std::vector<std::string> expected = {".", "..", "a", "\x83", "\x83\x40", "\x83\x41", "\x83" "B", "\x83\x61"};
  EXPECT_EQ(Names(FindEntries(Tree.Path(), "*", faAnyFile)), expected);
}

TEST_F(FileSystemTest, FiltersByAttributeMask) {
  Tree.File("a.txt");
  Tree.File(".hidden");
  Tree.File("locked.txt");
  chmod(Tree.At("locked.txt").c_str(), 0444);
  Tree.Folder("sub");
  ASSERT_EQ(mkfifo(Tree.At("pipe").c_str(), 0644), 0);
  struct Case {
    std::uint32_t mask;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {faAnyFile, {".", "..", ".hidden", "a.txt", "locked.txt", "pipe", "sub"}},
      {faAnyFile - faHidden - faSysFile, {".", "..", "a.txt", "locked.txt", "sub"}},
      {faAnyFile - faReadOnly, {".", "..", ".hidden", "a.txt", "locked.txt", "pipe", "sub"}},  // never filters
      {faArchive, {"a.txt", "locked.txt"}},  // no folder bit: folders stay out
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    EXPECT_EQ(Names(FindEntries(Tree.Path() + "/", "*.*", c.mask)), c.names);
  }
}

TEST_F(FileSystemTest, ReadsNothingFromAFolderThatIsNotThere) {
  EXPECT_TRUE(FindEntries(Tree.At("missing"), "*", faAnyFile).empty());
  Tree.File("file");
  EXPECT_TRUE(FindEntries(Tree.At("file"), "*", faAnyFile).empty());
}

struct MaskCase {
  const char* name;
  const char* pattern;
  bool match;
};
const MaskCase kMasks[] = {
    {"a.txt", "*.*", true},      {"noext", "*.*", true},      {".", "*.*", true},
    {"a.txt", "*", true},        {"a.txt", "*.txt", true},    {"A.TXT", "*.txt", true},
    {"a.b.txt", "*.txt", true},  {"a.txt.bak", "*.txt", false}, {"atxt", "*.txt", false},
    {"noext", "*.", true},       {"a.txt", "*.", false},      {".", "*.", false},
    {"..", "*.", false},         {"..", "*.txt", false},      {"a.c", "*.?", true},
    {"a.cc", "*.?", false},
    {"\x83\x41.txt", "\x83\x61.txt", false},  // trail bytes compare exactly (ア, not a folded "A")
};

// The small files the program reads itself: a password file may well be a pipe (--password-file
// <(...)), and a huge one is cut at the limit instead of filling the memory.
TEST_F(FileSystemTest, ReadsSmallFilesAndPipesUpToALimit) {
  Tree.File("pw", "secret\nrest");
  std::string text;
  ASSERT_TRUE(ReadTextFile(Tree.At("pw"), text));
  EXPECT_EQ(text, "secret\nrest");
  ASSERT_TRUE(ReadTextFile(Tree.At("pw"), text, 3));
  EXPECT_EQ(text, "sec");
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_EQ(::write(ends[1], "piped", 5), 5);
  ::close(ends[1]);
  ASSERT_TRUE(ReadTextFile("/proc/self/fd/" + std::to_string(ends[0]), text));
  EXPECT_EQ(text, "piped");
  ::close(ends[0]);
  text = "kept";
  EXPECT_FALSE(ReadTextFile(Tree.At("missing"), text));
  EXPECT_FALSE(ReadTextFile(Tree.At("pw") + std::string(1, '\0'), text));
  EXPECT_EQ(text, "kept");
}

TEST(FindEntries, MatchesWildcardPatterns) {
  const testing_tree::TScopedCodePage codePage(TCodePage::ShiftJis);
  for (const MaskCase& c : kMasks) {
    SCOPED_TRACE(std::string(c.name) + " ~ " + c.pattern);
    EXPECT_EQ(MatchesMask(c.name, c.pattern), c.match);
  }
}

}  // namespace
