#include "platform/TempFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/TestTree.h"

namespace {

using namespace platform;

/// Points HOME, XDG_CACHE_HOME and TMPDIR into a tree of the test's own for its lifetime.
class TempFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* name : {"HOME", "XDG_CACHE_HOME", "TMPDIR"}) {
      const char* value = std::getenv(name);
      FOld.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    ::setenv("HOME", Tree.Folder("home").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", Tree.At("cache").c_str(), 1);
    ::setenv("TMPDIR", Tree.Folder("tmp").c_str(), 1);
  }
  void TearDown() override {
    for (const auto& [name, value] : FOld) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  }

  static std::size_t EntriesIn(const std::string& folder) {
    std::error_code ignored;
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder, ignored), {}));
  }
  // The folder the file's descriptor says it lives in ("/proc/self/fd/N" names it, marked deleted).
  static std::string FolderOf(const TTempFile& file) {
    return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(file.Handle())).parent_path().string();
  }

  testing_tree::TTempTree Tree;

private:
  std::vector<std::pair<const char*, std::optional<std::string>>> FOld;
};

TEST_F(TempFileTest, LivesNamelessInThePrivateCacheFolder) {
  TTempFile file;
  EXPECT_EQ(FolderOf(file), Tree.At("cache/velmora"));
  EXPECT_EQ(EntriesIn(Tree.At("cache/velmora")), 0u);  // nothing to find, nothing left behind
  struct stat info {};
  ASSERT_EQ(::stat(Tree.At("cache/velmora").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(TempFileTest, AppendsAndReadsBack) {
  TTempFile file;
  file.Append("abc", 3);
  const std::string big(100000, 'x');
  file.Append(big.data(), big.size());
  EXPECT_EQ(file.Size(), 100003);
  char buffer[5] = {};
  EXPECT_EQ(file.ReadAt(buffer, 5, 1), 5u);
  EXPECT_EQ(std::string(buffer, 5), "bcxxx");
  EXPECT_EQ(file.ReadAt(buffer, 5, 100003), 0u);
  TTempFile moved(std::move(file));
  EXPECT_EQ(moved.Size(), 100003);
  EXPECT_EQ(file.Handle(), -1);
}

TEST_F(TempFileTest, CacheFolderDefaultsUnderHome) {
  ::unsetenv("XDG_CACHE_HOME");
  EXPECT_EQ(CacheFolder(), Tree.At("home/.cache/velmora/"));
  ::setenv("XDG_CACHE_HOME", "relative/cache", 1);  // not absolute: ignored, as the rules say
  EXPECT_EQ(CacheFolder(), Tree.At("home/.cache/velmora/"));
}

// A cache folder that cannot be used (here a file stands where it would be) leaves the
// temporary folder.
TEST_F(TempFileTest, FallsBackToTheTemporaryFolder) {
  Tree.Folder("cache");
  Tree.File("cache/velmora", "in the way");
  EXPECT_EQ(CacheFolder(), "");
  TTempFile file;
  EXPECT_EQ(FolderOf(file), Tree.At("tmp"));
  EXPECT_EQ(EntriesIn(Tree.At("tmp")), 0u);
  ::setenv("TMPDIR", Tree.At("missing").c_str(), 1);
  EXPECT_THROW(TTempFile(), std::system_error);
}

}  // namespace
