#include "platform/FindEntries.h"

#include <dirent.h>

#include <algorithm>
#include <memory>

#include "platform/CodePage.h"
#include "platform/FilePath.h"

namespace platform {
namespace {

constexpr std::uint32_t kFilteredBits = faHidden | faSysFile | faVolumeID | faDirectory;

struct TDirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// Whether the characters at name[n] and pattern[p] are the same character.
bool SameChar(std::string_view name, std::size_t n, std::string_view pattern, std::size_t p) {
  const std::size_t length = CharLength(name, n);
  if (length != CharLength(pattern, p)) return false;
  if (length == 2) return name.compare(n, 2, pattern, p, 2) == 0;
  return AsciiLower(name[n]) == AsciiLower(pattern[p]);
}

// Wildcard match with one remembered "*" to fall back to (linear in practice).
bool Glob(std::string_view name, std::string_view pattern) {
  std::size_t n = 0, p = 0;
  std::size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || SameChar(name, n, pattern, p))) {
      n += CharLength(name, n);
      p += pattern[p] == '?' ? 1 : CharLength(pattern, p);
    } else if (starP != std::string_view::npos) {
      p = starP;
      n = starN += CharLength(name, starN);
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// The sort key: single-byte ASCII letters folded to lower case, double-byte characters kept.
std::string SortKey(std::string_view name) {
  std::string key(name);
  if (!HasLeadBytes()) {
    for (char& c : key) c = AsciiLower(c);
    return key;
  }
  for (std::size_t i = 0; i < key.size(); i += CharLength(key, i)) {
    if (CharLength(key, i) == 1) key[i] = AsciiLower(key[i]);
  }
  return key;
}

int DotRank(const std::string& name) { return name == "." ? 0 : name == ".." ? 1 : 2; }

// Eight bytes of the key from offset on as one number that orders as the bytes do (a shorter key
// is padded with zero bytes, which no name contains).
std::uint64_t KeyWord(std::string_view key, std::size_t offset) {
  std::uint64_t word = 0;
  for (std::size_t i = offset; i < offset + 8; ++i) {
    word = word << 8 | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
  }
  return word;
}

// Sorts pointers to small records that point at the entries (rank and key worked out once per
// entry, not per comparison; the sort swaps pointers, not keys), then moves every entry once
// into its place. The key's first sixteen bytes are held as two numbers, so that names that
// share a long start (file-0001, file-0002) are still told apart without a look at the keys.
void SortEntries(std::vector<TSearchRec>& entries) {
  struct TSortItem {
    int Rank;
    std::uint64_t Prefix[2];
    std::string Key;
    TSearchRec* Entry;
  };
  std::vector<TSortItem> items;
  items.reserve(entries.size());
  for (TSearchRec& entry : entries) {
    std::string key = SortKey(entry.Name);
    const std::uint64_t first = KeyWord(key, 0);
    const std::uint64_t second = KeyWord(key, 8);
    items.push_back({DotRank(entry.Name), {first, second}, std::move(key), &entry});
  }
  std::vector<const TSortItem*> order;
  order.reserve(items.size());
  for (const TSortItem& item : items) order.push_back(&item);
  std::sort(order.begin(), order.end(), [](const TSortItem* a, const TSortItem* b) {
    if (a->Rank != b->Rank) return a->Rank < b->Rank;
    if (a->Prefix[0] != b->Prefix[0]) return a->Prefix[0] < b->Prefix[0];
    if (a->Prefix[1] != b->Prefix[1]) return a->Prefix[1] < b->Prefix[1];
    if (const int byKey = a->Key.compare(b->Key); byKey != 0) return byKey < 0;
    return a->Entry->Name < b->Entry->Name;
  });
  std::vector<TSearchRec> sorted;
  sorted.reserve(entries.size());
  for (const TSortItem* item : order) sorted.push_back(std::move(*item->Entry));
  entries = std::move(sorted);
}

}  // namespace

bool MatchesMask(std::string_view name, std::string_view pattern) {
  if (pattern == "*" || pattern == "*.*") return true;
  if (!pattern.empty() && pattern.back() == '.') {
    // "." is below 0x40 and so never a trail byte: a plain byte search is exact.
    if (name.find('.') != std::string_view::npos) return false;
    pattern.remove_suffix(1);
  }
  return Glob(name, pattern);
}

std::vector<TSearchRec> FindEntries(const std::string& folder, std::string_view pattern,
                                    std::uint32_t attrMask) {
  std::vector<TSearchRec> entries;
  if (HasEmbeddedNul(folder)) return entries;
  const std::unique_ptr<DIR, TDirCloser> dir(opendir(folder.c_str()));
  if (!dir) return entries;
  const std::uint32_t refused = kFilteredBits & ~attrMask;
  const int folderFd = dirfd(dir.get());
  while (const dirent* item = readdir(dir.get())) {
    std::string name = item->d_name;
    if (!MatchesMask(name, pattern)) continue;
    const TFileInfo info = GetFileInfoAt(folderFd, name);
    if ((info.Attr & refused) != 0) continue;
    TSearchRec& entry = entries.emplace_back();
    static_cast<TFileInfo&>(entry) = info;
    entry.Name = std::move(name);
  }
  SortEntries(entries);
  return entries;
}

}  // namespace platform
