#include "platform/CacheFolder.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/TestTree.h"

namespace {

// Sets an environment variable for the scope (unset when value is empty).
class TScopedVariable {
public:
  TScopedVariable(const char* name, const std::string& value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    if (value.empty()) {
      ::unsetenv(name);
    } else {
      ::setenv(name, value.c_str(), 1);
    }
  }
  ~TScopedVariable() {
    if (FOld) {
      ::setenv(FName, FOld->c_str(), 1);
    } else {
      ::unsetenv(FName);
    }
  }

private:
  const char* FName;
  std::optional<std::string> FOld;
};

std::string ReadWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class CacheFolderTest : public ::testing::Test {
protected:
  testing_tree::TTempTree Tree;
};

TEST_F(CacheFolderTest, FolderFollowsXdgCacheHomeElseHome) {
  {
    const TScopedVariable cache("XDG_CACHE_HOME", Tree.At("xdg"));
    EXPECT_EQ(platform::UserCacheFolder("velmora"), Tree.At("xdg/velmora/"));
    struct stat info {};
    ASSERT_EQ(::stat(Tree.At("xdg/velmora").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700U);
  }
  const TScopedVariable home("HOME", Tree.At("home"));
  for (const char* cache : {"", "relative/cache"}) {  // unset, or not absolute: ignored
    SCOPED_TRACE(cache);
    const TScopedVariable variable("XDG_CACHE_HOME", cache);
    EXPECT_EQ(platform::UserCacheFolder("velmora"), Tree.At("home/.cache/velmora/"));
  }
}

TEST_F(CacheFolderTest, NoFolderWhereNoneCanBeMade) {
  Tree.File("plain", "a file, not a folder");
  const TScopedVariable cache("XDG_CACHE_HOME", Tree.At("plain"));
  EXPECT_EQ(platform::UserCacheFolder("velmora"), "");
}

TEST_F(CacheFolderTest, ReplacesAFileWholeAndLeavesNoTemporaryFile) {
  const std::string path = Tree.File("cache", "old");
  EXPECT_TRUE(platform::WriteFileAtomically(path, std::string("new\0bytes", 9)));
  EXPECT_EQ(ReadWhole(path), std::string("new\0bytes", 9));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Tree.Path()), {}), 1);
  EXPECT_FALSE(platform::WriteFileAtomically(Tree.At("missing/cache"), "x"));
  EXPECT_FALSE(platform::WriteFileAtomically(std::string("cache\0x", 7), "x"));
}

}  // namespace
