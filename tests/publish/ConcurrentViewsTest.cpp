#include <thread>

#include <gtest/gtest.h>

#include "platform/TestTree.h"
#include "publish/ListingPage.h"
#include "publish/BuiltText.h"
#include "publish/UnitXML.h"

namespace {

// Listings and indexes share nothing: built on four threads at once they come out as they do
// one at a time. (Run under ThreadSanitizer to see races, not only wrong results.)
TEST(ConcurrentViews, ListingsAndIndexesOnThreadsMatchSequentialOnes) {
  const TScopedTimeZone zone("JST-9");
  testing_tree::TTempTree tree;
  const std::time_t moment = testing_tree::LocalMoment(2004, 6, 19, 22, 22, 17);
  for (int i = 0; i < 30; ++i) {
    tree.Folder("a/sub" + std::to_string(i % 5), moment);
    tree.File("a/sub" + std::to_string(i % 5) + "/f" + std::to_string(i) + ".txt", std::string(i, 'x'), moment);
    tree.File("b/\xE6\x97\xA5" + std::to_string(i) + " & <x>.txt", "", moment);
  }
  const platform::TRegionalFormats formats;
  TPublishSettings settings;
  settings.ExcludeHidden = false;
  const std::string listingA = built_text::ListingText(tree.At("a"), settings, formats);
  const std::string listingB = built_text::ListingText(tree.At("b"), TPublishSettings{}, formats);
  const std::string indexA = built_text::IndexText(tree.At("a/"), 0);
  const std::string indexB = built_text::IndexText(tree.At("b/"), 0);

  std::string results[4][5];
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (std::string& result : results[t]) {
          switch (t) {
            case 0: result = built_text::ListingText(tree.At("a"), settings, formats); break;
            case 1: result = built_text::ListingText(tree.At("b"), TPublishSettings{}, formats); break;
            case 2: result = built_text::IndexText(tree.At("a/"), 0); break;
            default: result = built_text::IndexText(tree.At("b/"), 0); break;
          }
        }
      });
    }
  }
  const std::string* expected[4] = {&listingA, &listingB, &indexA, &indexB};
  for (int t = 0; t < 4; ++t) {
    for (const std::string& result : results[t]) EXPECT_EQ(result, *expected[t]) << "thread " << t;
  }
}

}  // namespace
