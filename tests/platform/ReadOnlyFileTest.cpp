#include "platform/ReadOnlyFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "platform/FindEntries.h"
#include "platform/TestTree.h"

namespace {

using platform::TReadOnlyFile;

class ReadOnlyFileTest : public ::testing::Test {
protected:
  testing_tree::TTempTree Tree;
};

TEST_F(ReadOnlyFileTest, OpensARegularFileWithItsSizeAndTime) {
  Tree.File("a.bin", "0123456789", 1700000000);
  TReadOnlyFile file(Tree.At("a.bin"));
  ASSERT_TRUE(file.IsOpen()) << file.Error();
  EXPECT_EQ(file.SizeAtOpen(), 10);
  EXPECT_EQ(file.LastWriteAtOpen(), 1700000000);
  char buffer[8] = {};
  EXPECT_EQ(file.ReadAt(buffer, 4, 6), 4u);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(file.ReadAt(buffer, 4, 10), 0u);
  // A moved file keeps its descriptor; the one moved from owns nothing.
  TReadOnlyFile moved(std::move(file));
  EXPECT_TRUE(moved.IsOpen());
  EXPECT_FALSE(file.IsOpen());  // the state after a move is the point
}

TEST_F(ReadOnlyFileTest, KnowsItsTimeToTheNanosecondAndItsIdentity) {
  const std::string path = Tree.File("a.bin", "abc");
  const timespec times[2] = {{1700000000, 123456789}, {1700000000, 123456789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  const TReadOnlyFile file(path);
  EXPECT_EQ(file.LastWriteNsAtOpen(), 1700000000123456789);
  EXPECT_EQ(file.IdAtOpen(), platform::GetFileInfo(path).Id);
  EXPECT_NE(file.IdAtOpen(), platform::TFileId{});
  EXPECT_FALSE(file.ChangedSinceOpen());
  // A change of the time alone, a nanosecond's, counts, and so does one of the size alone.
  const timespec later[2] = {{1700000000, 123456790}, {1700000000, 123456790}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
  EXPECT_TRUE(file.ChangedSinceOpen());
  const TReadOnlyFile reopened(path);
  ASSERT_EQ(::truncate(path.c_str(), 2), 0);
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
  EXPECT_TRUE(reopened.ChangedSinceOpen());
}

TEST_F(ReadOnlyFileTest, RefusesWhatIsNoRegularFileWithoutBlocking) {
  Tree.Folder("sub");
  ASSERT_EQ(::mkfifo(Tree.At("fifo").c_str(), 0600), 0);  // no writer: a plain open would wait forever
  for (const char* name : {"fifo", "sub"}) {
    SCOPED_TRACE(name);
    const TReadOnlyFile file(Tree.At(name));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Error(), "Not a regular file");
  }
  EXPECT_EQ(TReadOnlyFile(Tree.At("missing")).Error(), "No such file or directory");
}

// Regression: a request path with a NUL reached the file calls, which read it only up to the NUL:
// "/.env\0/a" opened the hidden ".env", and an index walk re-entered the root. Every call of the
// layer that touches the disk refuses such a path, whatever its prefix names.
TEST_F(ReadOnlyFileTest, APathWithANulNamesNothing) {
  Tree.File(".env", "secret");
  const std::string withNul = Tree.At(".env") + std::string(1, '\0') + "/a";
  const TReadOnlyFile file(withNul);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Error(), "Invalid argument");
  EXPECT_FALSE(platform::GetFileInfo(withNul).Readable());
  EXPECT_FALSE(platform::GetFileInfo(Tree.Path() + std::string(1, '\0')).Readable());
  EXPECT_TRUE(platform::FindEntries(Tree.Path() + std::string(1, '\0') + "x", "*", platform::faAnyFile).empty());
}

}  // namespace
