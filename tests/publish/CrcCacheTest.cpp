#include "publish/CrcCache.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/TestTree.h"

namespace {

TCrcKey Key(std::uint64_t inode, std::int64_t size = 10, std::int64_t lastWriteNs = 5) {
  return TCrcKey{1, inode, size, lastWriteNs};
}

std::string ReadWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteWhole(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// In memory

TEST(TCrcCache, FindsOnlyTheSameVersionOfTheSameFile) {
  TCrcCache cache("");
  cache.Put(Key(1), 0xAABBCCDD);
  EXPECT_EQ(cache.Find(Key(1)), 0xAABBCCDDU);
  EXPECT_FALSE(cache.Find(Key(2)));                   // another inode
  EXPECT_FALSE(cache.Find(Key(1, 11)));               // grown
  EXPECT_FALSE(cache.Find(Key(1, 10, 6)));            // touched, 1 ns later
  EXPECT_FALSE(cache.Find(TCrcKey{2, 1, 10, 5}));     // same inode on another device
}

TEST(TCrcCache, DropsTheLeastRecentlyUsedBeyondItsCapacity) {
  TCrcCache cache("", 3);
  cache.Put(Key(1), 1);
  cache.Put(Key(2), 2);
  cache.Put(Key(3), 3);
  EXPECT_TRUE(cache.Find(Key(1)));  // 1 is now the most recent; 2 the least
  cache.Put(Key(4), 4);
  EXPECT_EQ(cache.Count(), 3U);
  EXPECT_FALSE(cache.Find(Key(2)));
  EXPECT_TRUE(cache.Find(Key(1)));
  EXPECT_TRUE(cache.Find(Key(3)));
  cache.Put(Key(3), 33);  // a new value for a known key takes no new place
  EXPECT_EQ(cache.Count(), 3U);
  EXPECT_EQ(cache.Find(Key(3)), 33U);
}

TEST(TCrcCache, ManyThreadsAtOnce) {
  TCrcCache cache("", 500);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&cache, t] {
      for (std::uint64_t i = 0; i < 2000; ++i) {
        cache.Put(Key(i % 700, t), static_cast<std::uint32_t>(i));
        cache.Find(Key((i * 7) % 700, t));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(cache.Count(), 500U);
}

// The cache file

class TCrcCacheFile : public ::testing::Test {
protected:
  testing_tree::TTempTree Tree;
  std::string Path = Tree.At("crc32.cache");

  void SaveTwo() {
    TCrcCache cache(Path);
    cache.Put(Key(1), 0x11111111);
    cache.Put(Key(2, std::int64_t{1} << 40, -3), 0x22222222);
    ASSERT_TRUE(cache.Save());
  }
};

TEST_F(TCrcCacheFile, KeepsTheChecksumsBetweenRuns) {
  SaveTwo();
  TCrcCache again(Path);
  EXPECT_EQ(again.Count(), 2U);
  EXPECT_EQ(again.Find(Key(1)), 0x11111111U);
  EXPECT_EQ(again.Find(Key(2, std::int64_t{1} << 40, -3)), 0x22222222U);
}

// Read at the first use, not when made: a server that sends no zip never holds the table.
TEST_F(TCrcCacheFile, ReadsItsFileOnlyWhenFirstUsed) {
  TCrcCache early(Path);
  SaveTwo();
  EXPECT_EQ(early.Find(Key(1)), 0x11111111U);
  EXPECT_EQ(early.Count(), 2U);
}

TEST_F(TCrcCacheFile, KeepsTheOrderOfUseAndItsBound) {
  {
    TCrcCache cache(Path);
    for (std::uint64_t i = 1; i <= 4; ++i) cache.Put(Key(i), static_cast<std::uint32_t>(i));
    cache.Find(Key(1));
  }  // saved on destruction
  TCrcCache smaller(Path, 4);
  smaller.Put(Key(5), 5);  // drops 2, the least recently used before the save
  EXPECT_FALSE(smaller.Find(Key(2)));
  EXPECT_TRUE(smaller.Find(Key(1)));
  // A file with more records than the cache may hold is not read at all.
  TCrcCache tiny(Path, 2);
  EXPECT_EQ(tiny.Count(), 0U);
}

TEST_F(TCrcCacheFile, IgnoresACorruptOrForeignFile) {
  SaveTwo();
  const std::string good = ReadWhole(Path);
  std::string flipped = good;
  flipped[good.size() / 2] ^= 0x01;
  const std::string cases[] = {
      flipped,                                  // a bit changed
      good.substr(0, good.size() - 1),          // cut short
      good + "x",                               // something after it
      "",                                       // empty
      "#!/bin/sh\necho hello\n",                // something else entirely
      "X" + good.substr(1),                     // another format
  };
  for (const std::string& bytes : cases) {
    WriteWhole(Path, bytes);
    EXPECT_EQ(TCrcCache(Path).Count(), 0U);
  }
}

TEST_F(TCrcCacheFile, SavesNothingUnchangedAndReplacesTheFileWhole) {
  { TCrcCache empty(Path); }
  EXPECT_FALSE(std::filesystem::exists(Path));  // nothing learned, nothing written
  SaveTwo();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Tree.Path()), {}), 1);  // no temporary file left
  TCrcCache inFolderGone(Tree.At("missing/crc32.cache"));
  inFolderGone.Put(Key(1), 1);
  EXPECT_FALSE(inFolderGone.Save());
}

}  // namespace
