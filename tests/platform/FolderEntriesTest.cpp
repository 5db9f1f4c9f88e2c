// A large folder read through TFolderEntries: many names that share long starts and
// differ in letter case or in double-byte characters, their names spread over several blocks.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FindEntries.h"
#include "platform/TestTree.h"

namespace {

using namespace platform;

constexpr std::size_t kNames = 1500;  // about 90 KB of names: more than one block
constexpr char kSharedStart[] = "a-long-start-shared-by-every-name-in-this-folder-";

// The order the listing promises, worked out from whole keys: "." and "..", then by the name
// with single-byte ASCII letters in lower case, ties by bytes.
std::vector<std::string> ExpectedOrder(const std::vector<std::string>& names) {
  auto key = [](const std::string& name) {
    std::string folded = name;
    for (std::size_t i = 0; i < folded.size(); i += CharLength(name, i)) {
      if (CharLength(name, i) == 1) folded[i] = AsciiLower(folded[i]);
    }
    return folded;
  };
  std::vector<std::tuple<int, std::string, std::string>> keyed;
  for (const std::string& name : names) keyed.emplace_back(name == "." ? 0 : name == ".." ? 1 : 2, key(name), name);
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::string> ordered;
  for (const auto& item : keyed) ordered.push_back(std::get<2>(item));
  return ordered;
}

// Each file's size follows from its name, so a status read with another entry's name shows.
std::size_t SizeFor(const std::string& name) { return name.size() % 7 + static_cast<unsigned char>(name.back()) % 5; }

class FolderEntriesTest : public ::testing::TestWithParam<TCodePage> {
protected:
  // Names built from pieces that differ only in case, and (read as Shift-JIS) double-byte
  // characters whose second byte looks like an ASCII letter.
  std::vector<std::string> MakeNames() {
    const std::vector<std::string> pieces{"a", "A", "b", "B", "\x83" "A", "\x83" "a", "\x83\x40", "_", "0"};
    std::mt19937 random(7);
    std::vector<std::string> names{".", ".."};
    std::set<std::string> made;
    while (names.size() < kNames) {
      std::string name = kSharedStart;
      const int length = 1 + static_cast<int>(random() % 6);
      for (int i = 0; i < length; ++i) name += pieces[random() % pieces.size()];
      if (!made.insert(name).second) continue;
      Tree.File(name, std::string(SizeFor(name), 'x'));
      names.push_back(name);
    }
    return names;
  }

  testing_tree::TTempTree Tree;
};

TEST_P(FolderEntriesTest, OrdersManyNamesAsTheirKeysAndKeepsEachStatusWithItsName) {
  const testing_tree::TScopedCodePage codePage(GetParam());
  const std::vector<std::string> names = MakeNames();
  TFolderEntries entries(Tree.Path(), "*", faAnyFile);
  std::vector<std::string> seen;
  for (const TSearchRec& entry : entries) {
    seen.push_back(entry.Name);
    if (entry.Name == "." || entry.Name == "..") continue;
    ASSERT_EQ(entry.Size, SizeFor(entry.Name)) << entry.Name;
  }
  EXPECT_EQ(seen, ExpectedOrder(names));

  // Leaving entries out keeps the order of the rest.
  entries.EraseIf([](const TSearchRec& entry) {
    return entry.Name == "." || (entry.Name != ".." && entry.Size % 2 == 1);
  });
  std::vector<std::string> kept;
  std::copy_if(seen.begin(), seen.end(), std::back_inserter(kept), [](const std::string& name) {
    return name == ".." || (name != "." && SizeFor(name) % 2 == 0);
  });
  std::vector<std::string> left;
  for (const TSearchRec& entry : entries) left.push_back(entry.Name);
  EXPECT_EQ(left, kept);
  EXPECT_EQ(entries.Size(), kept.size());
}

INSTANTIATE_TEST_SUITE_P(CodePages, FolderEntriesTest, ::testing::Values(TCodePage::Utf8, TCodePage::ShiftJis));

}  // namespace
