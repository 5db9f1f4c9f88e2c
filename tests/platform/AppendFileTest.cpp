#include "platform/AppendFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/TestTree.h"

namespace {

std::vector<std::string> LinesOf(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

TEST(AppendFile, AppendsToWhatIsThereAndCreatesWhatIsNot) {
  testing_tree::TTempTree tree;
  platform::TAppendFile missing(tree.At("new.log"));
  EXPECT_FALSE(missing.AppendLine("before the open"));
  ASSERT_TRUE(missing.Reopen());
  EXPECT_TRUE(missing.AppendLine("first"));
  EXPECT_EQ(LinesOf(tree.At("new.log")), std::vector<std::string>{"first"});

  tree.File("old.log", "kept\n");
  platform::TAppendFile existing(tree.At("old.log"));
  ASSERT_TRUE(existing.Reopen());
  EXPECT_TRUE(existing.AppendLine("added"));
  EXPECT_EQ(LinesOf(tree.At("old.log")), (std::vector<std::string>{"kept", "added"}));

  platform::TAppendFile nowhere(tree.At("no/such/folder.log"));
  EXPECT_FALSE(nowhere.Reopen());
  EXPECT_FALSE(nowhere.AppendLine("lost"));
}

TEST(AppendFile, LinesOfManyThreadsArriveWholeAndSeparate) {
  testing_tree::TTempTree tree;
  platform::TAppendFile file(tree.At("access.log"));
  ASSERT_TRUE(file.Reopen());
  constexpr int kThreads = 8, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&file, t] {
      // Lines longer than a pipe's atomic write, so that only the lock keeps them whole.
      for (int i = 0; i < kLines; ++i) file.AppendLine(std::to_string(t) + ":" + std::string(6000, 'a' + t));
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::vector<std::string> lines = LinesOf(tree.At("access.log"));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
  for (const std::string& line : lines) {
    const int t = line[0] - '0';
    ASSERT_EQ(line, std::to_string(t) + ":" + std::string(6000, 'a' + t));
  }
}

TEST(AppendFile, ReopenAfterRotationWritesToANewFileOfTheName) {
  testing_tree::TTempTree tree;
  platform::TAppendFile file(tree.At("access.log"));
  ASSERT_TRUE(file.Reopen());
  file.AppendLine("one");
  std::filesystem::rename(tree.At("access.log"), tree.At("access.log.1"));
  file.AppendLine("two");  // still the moved file, as until the rotation's signal
  ASSERT_TRUE(file.Reopen());
  file.AppendLine("three");
  EXPECT_EQ(LinesOf(tree.At("access.log.1")), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(LinesOf(tree.At("access.log")), std::vector<std::string>{"three"});
}

}  // namespace
