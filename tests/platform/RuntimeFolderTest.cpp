#include "platform/RuntimeFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/TestTree.h"

namespace {

using namespace platform;

/// Points XDG_RUNTIME_DIR and TMPDIR into a tree of the test's own for its lifetime.
class RuntimeFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
      const char* value = std::getenv(name);
      FOld.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    Tree.Folder("runtime");
    ::chmod(Tree.At("runtime").c_str(), 0700);
    Tree.Folder("tmp");
    ::setenv("XDG_RUNTIME_DIR", Tree.At("runtime").c_str(), 1);
    ::setenv("TMPDIR", Tree.At("tmp").c_str(), 1);
  }
  void TearDown() override {
    for (const auto& [name, value] : FOld) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  }

  std::string Fallback() const { return Tree.At("tmp/velmora-runtime-" + std::to_string(::getuid())); }

  // Makes path look like another user's: owned by nobody when the test may give it away, else
  // writable by everyone, which disqualifies it as well.
  static void MakeForeign(const std::string& path) {
    if (::getuid() == 0)
      ASSERT_EQ(0, ::chown(path.c_str(), 65534, 65534));
    else
      ASSERT_EQ(0, ::chmod(path.c_str(), 0777));
  }

  testing_tree::TTempTree Tree;
  std::vector<std::pair<const char*, std::optional<std::string>>> FOld;
};

TEST_F(RuntimeFolderTest, TakesThePrivateRuntimeFolder) {
  EXPECT_EQ(Tree.At("runtime") + "/", PrivateRuntimeFolder("velmora"));
}

TEST_F(RuntimeFolderTest, WithoutOneMakesAPrivateFolderInTheTemporaryFolder) {
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(Fallback() + "/", PrivateRuntimeFolder("velmora"));
  struct stat info {};
  ASSERT_EQ(0, ::lstat(Fallback().c_str(), &info));
  EXPECT_EQ(0700u, info.st_mode & 07777);
  EXPECT_EQ(Fallback() + "/", PrivateRuntimeFolder("velmora"));  // found again by the next start
}

TEST_F(RuntimeFolderTest, ARuntimeFolderOthersMayWriteIsPassedOver) {
  ::chmod(Tree.At("runtime").c_str(), 0777);
  EXPECT_EQ(Fallback() + "/", PrivateRuntimeFolder("velmora"));
}

// Another user who made the folder's name first, as a folder, a link or a file, gets no say.
TEST_F(RuntimeFolderTest, ForeignEntryUnderTheFallbackNameIsNeverUsed) {
  ::unsetenv("XDG_RUNTIME_DIR");
  Tree.Folder("tmp/velmora-runtime-" + std::to_string(::getuid()));
  MakeForeign(Fallback());
  EXPECT_EQ("", PrivateRuntimeFolder("velmora"));

  std::filesystem::remove_all(Fallback());
  Tree.Folder("elsewhere");
  ::chmod(Tree.At("elsewhere").c_str(), 0700);
  Tree.Link("tmp/velmora-runtime-" + std::to_string(::getuid()), Tree.At("elsewhere"));
  EXPECT_EQ("", PrivateRuntimeFolder("velmora"));  // a link, even to a private folder

  std::filesystem::remove(Fallback());
  Tree.File("tmp/velmora-runtime-" + std::to_string(::getuid()));
  EXPECT_EQ("", PrivateRuntimeFolder("velmora"));
}

}  // namespace
