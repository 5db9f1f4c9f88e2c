// The thumbnail caches and the decode gate on their own: bounds, order of eviction, staleness,
// and how many pass at once.

#include "publish/ThumbnailDiskCache.h"
#include "publish/ThumbnailGate.h"
#include "publish/ThumbnailMemoryCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/TestTree.h"
#include "publish/DesktopThumbnails.h"
#include "publish/Md5.h"

namespace {

std::shared_ptr<const std::string> Bytes(std::size_t n, char c) { return std::make_shared<const std::string>(n, c); }

TEST(ThumbnailMemoryCache, DropsTheLeastRecentlyUsedPastItsBound) {
  TThumbnailMemoryCache cache(300);
  cache.Store("a", Bytes(100, 'a'));
  cache.Store("b", Bytes(100, 'b'));
  cache.Store("c", Bytes(100, 'c'));
  ASSERT_NE(cache.Find("a"), nullptr);  // now the most recent
  cache.Store("d", Bytes(100, 'd'));
  EXPECT_EQ(cache.Find("b"), nullptr);
  EXPECT_NE(cache.Find("a"), nullptr);
  EXPECT_EQ(cache.Bytes(), 300u);
  cache.Store("a", Bytes(50, 'A'));  // replaced, not counted twice
  EXPECT_EQ(*cache.Find("a"), std::string(50, 'A'));
  EXPECT_EQ(cache.Bytes(), 250u);
  cache.Store("huge", Bytes(301, 'h'));
  EXPECT_EQ(cache.Find("huge"), nullptr);
  EXPECT_EQ(cache.Bytes(), 250u);
}

TEST(ThumbnailDiskCache, FindsOnlyWhatMatchesTheSourceAndRemovesTheOldestPastItsBound) {
  testing_tree::TTempTree tree;
  const std::string folder = tree.At("cache/velmora/thumbnails/");
  TThumbnailDiskCache cache(folder, 2000);
  EXPECT_FALSE(cache.Find("/p/a.jpg", 10, 100, 320));
  cache.Store("/p/a.jpg", 10, 100, 320, std::string(400, 'a'));
  EXPECT_EQ(cache.Find("/p/a.jpg", 10, 100, 320), std::string(400, 'a'));
  EXPECT_FALSE(cache.Find("/p/a.jpg", 10, 100, 640));
  EXPECT_FALSE(cache.Find("/p/a.jpg", 11, 100, 320));  // the source changed: stale
  EXPECT_FALSE(cache.Find("/p/a.jpg", 10, 101, 320));
  cache.Store("/p/a.jpg", 11, 100, 320, std::string(400, 'A'));  // replaced in place
  EXPECT_EQ(cache.Find("/p/a.jpg", 11, 100, 320), std::string(400, 'A'));
  // Files written in turn, each dated older than the next; past the bound the oldest go first.
  for (int i = 0; i < 8; ++i) {
    const std::string path = "/p/" + std::to_string(i) + ".jpg";
    cache.Store(path, 1, 1, 320, std::string(400, 'x'));
    tree.SetTime("cache/velmora/thumbnails/" + Md5Hex(path + "\n320") + ".jpg", 1000000000 + i);
  }
  std::uintmax_t total = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) total += entry.file_size();
  EXPECT_LE(total, 2000u);
  EXPECT_TRUE(cache.Find("/p/7.jpg", 1, 1, 320));
  EXPECT_FALSE(cache.Find("/p/1.jpg", 1, 1, 320));
  // A folder that cannot be made keeps nothing, and says nothing.
  TThumbnailDiskCache nowhere("/proc/velmora-cannot-be-here/", 2000);
  nowhere.Store("/p/a.jpg", 1, 1, 320, "x");
  EXPECT_FALSE(nowhere.Find("/p/a.jpg", 1, 1, 320));
}

TEST(ThumbnailGate, LetsAtMostItsSlotsThroughAtOnce) {
  TThumbnailGate gate(2, 100);
  std::atomic<int> inside{0}, most{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      ASSERT_EQ(gate.Enter([] { return false; }, 5), TThumbnailGate::grEntered);
      const int now = ++inside;
      int seen = most.load();
      while (now > seen && !most.compare_exchange_weak(seen, now)) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      --inside;
      gate.Leave();
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(most.load(), 2);
  EXPECT_EQ(gate.Running(), 0);
  EXPECT_EQ(gate.Waiting(), 0);
}

}  // namespace

namespace {

TEST(DesktopThumbnails, NamesAreTheMd5OfTheFileUri) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");  // a whole padding block
  EXPECT_EQ(FileUri("/home/jens/photos/me.png"), "file:///home/jens/photos/me.png");
  EXPECT_EQ(Md5Hex(FileUri("/home/jens/photos/me.png")), "c6ee772d9e49320e97ec29a7eb5b1697");
  EXPECT_EQ(FileUri("/a b/%/\xE5\x86\x99.jpg"), "file:///a%20b/%25/%E5%86%99.jpg");
}

}  // namespace
