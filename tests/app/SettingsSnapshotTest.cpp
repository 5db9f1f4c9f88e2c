#include "app/SettingsSnapshot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// Every field of set number n says n, so a snapshot mixed from two sets shows.
TPublishSettings SetNumber(int n) {
  const std::string text = std::to_string(n);
  TPublishSettings settings;
  settings.Root = "/pub/" + text;
  settings.Extension = text;
  settings.UserName = "user" + text;
  settings.Password = "password" + text;
  settings.ExcludeHidden = settings.ExcludeSystem = n % 2 == 0;
  return settings;
}

// Connection threads read while the window's thread updates; ThreadSanitizer watches the rest.
TEST(TSettingsSnapshot, ReadersAlwaysSeeOneWholeSetWhileItChanges) {
  constexpr int kReaders = 4;
  constexpr int kUpdates = 2000;
  TSettingsSnapshot snapshot;
  snapshot.Update(SetNumber(0));
  std::atomic<bool> done{false};
  std::atomic<int> mixed{0};
  std::vector<std::thread> readers;
  for (int reader = 0; reader < kReaders; ++reader)
    readers.emplace_back([&] {
      while (!done) {
        const TPublishSettings seen = snapshot.Snapshot();
        const TPublishSettings whole = SetNumber(std::stoi(seen.Extension));
        if (seen.Root != whole.Root || seen.UserName != whole.UserName || seen.Password != whole.Password ||
            seen.ExcludeHidden != whole.ExcludeHidden || seen.ExcludeSystem != whole.ExcludeSystem)
          ++mixed;
      }
    });
  for (int n = 1; n <= kUpdates; ++n)
    snapshot.Update(SetNumber(n));
  done = true;
  for (std::thread& reader : readers)
    reader.join();
  EXPECT_EQ(0, mixed.load());
  EXPECT_EQ("/pub/2000", snapshot.Snapshot().Root);
}

}  // namespace
