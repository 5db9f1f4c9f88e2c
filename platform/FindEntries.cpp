#include "platform/FindEntries.h"

#include <dirent.h>

#include <algorithm>
#include <memory>

#include "platform/CodePage.h"
#include "platform/FilePath.h"
#include "platform/Process.h"

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

// Bytes of names held in one block. A name (at most 255 bytes) never spans two.
constexpr std::size_t kNameBlock = 64 * 1024;
// Folders with this many blocks of names or more are large.
constexpr std::size_t kTrimBlocks = 16;

std::uint32_t DotRank(std::string_view name) { return name == "." ? 0 : name == ".." ? 1 : 2; }

// Compares two names as their sort keys would compare (single-byte ASCII letters folded to lower
// case, double-byte characters kept whole), in place. Negative, zero or positive. Up to the first
// byte that differs, both names are in the same state (inside a character or not), so only the
// bytes from there on need folding; names often share a long start.
int CompareFolded(std::string_view a, std::string_view b, bool leadBytes) {
  std::size_t i = std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first - a.begin();
  bool trail = false;  // whether a[i] and b[i] are second bytes of double-byte characters
  if (leadBytes) {
    for (std::size_t k = 0; k < i; k += CharLength(a, k)) trail = k + 1 == i && CharLength(a, k) == 2;
  }
  for (; i < a.size() && i < b.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x == y) {
      trail = !trail && leadBytes && CharLength(a, i) == 2;
      continue;
    }
    if (trail) return x < y ? -1 : 1;
    if (!leadBytes || CharLength(a, i) == 1) x = static_cast<unsigned char>(AsciiLower(a[i]));
    if (!leadBytes || CharLength(b, i) == 1) y = static_cast<unsigned char>(AsciiLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
    // The same letter in two cases: a single-byte character in both names.
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// The first 16 bytes of name as CompareFolded sees them (single-byte ASCII letters folded,
// double-byte characters kept whole) into head, big-endian, zeros past the end. A name holds
// no NUL, so a shorter name that is the start of a longer one comes first, as in CompareFolded.
void FoldedHead(std::string_view name, bool leadBytes, std::uint64_t (&head)[2]) {
  unsigned char folded[16] = {};
  const std::size_t end = std::min<std::size_t>(name.size(), sizeof folded);
  for (std::size_t i = 0; i < end;) {
    if (leadBytes && CharLength(name, i) == 2) {
      folded[i] = static_cast<unsigned char>(name[i]);
      if (++i < end) folded[i] = static_cast<unsigned char>(name[i]);
      ++i;
    } else {
      folded[i] = static_cast<unsigned char>(AsciiLower(name[i]));
      ++i;
    }
  }
  for (std::size_t i = 0; i < 8; ++i) {
    head[0] = head[0] << 8 | folded[i];
    head[1] = head[1] << 8 | folded[i + 8];
  }
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

TFolderEntries::TFolderEntries(const std::string& folder, std::string_view pattern, std::uint32_t attrMask) {
  if (HasEmbeddedNul(folder)) return;
  const std::unique_ptr<DIR, TDirCloser> dir(opendir(folder.c_str()));
  if (!dir) return;
  const std::uint32_t refused = kFilteredBits & ~attrMask;
  const int folderFd = dirfd(dir.get());
  std::string name;
  while (const dirent* item = readdir(dir.get())) {
    name = item->d_name;
    if (!MatchesMask(name, pattern)) continue;
    const TFileInfo info = GetFileInfoAt(folderFd, name);
    if ((info.Attr & refused) != 0) continue;
    Add(name, info);
  }
  Sort();
}

TFolderEntries::~TFolderEntries() {
  const bool large = FBlocks.size() >= kTrimBlocks;
  FRecords.clear();
  FRecords.shrink_to_fit();
  FBlocks.clear();
  FOrder.clear();
  FOrder.shrink_to_fit();
  // The allocator keeps freed memory for the thread that freed it; after a read of this size
  // that would hold tens of MB for good.
  if (large) ReleaseFreeMemory();
}

void TFolderEntries::Add(std::string_view name, const TFileInfo& info) {
  if (FBlocks.empty() || FBlockUsed + name.size() > kNameBlock) {
    FBlocks.push_back(std::make_unique_for_overwrite<char[]>(kNameBlock));
    FBlockUsed = 0;
  }
  name.copy(FBlocks.back().get() + FBlockUsed, name.size());
  FRecords.push_back({info, static_cast<std::uint32_t>(FBlocks.size() - 1), static_cast<std::uint16_t>(FBlockUsed),
                      static_cast<std::uint16_t>(name.size())});
  FBlockUsed += name.size();
}

std::string_view TFolderEntries::NameOf(std::uint32_t index) const {
  const TRecord& record = FRecords[index];
  return {FBlocks[record.Block].get() + record.Offset, record.Length};
}

void TFolderEntries::Fill(std::uint32_t index, TSearchRec& entry) const {
  static_cast<TFileInfo&>(entry) = FRecords[index].Info;
  entry.Name.assign(NameOf(index));
}

// "." and ".." first, then by the names with ASCII letters folded, ties in byte order.
// Each item carries the start of its folded name as two numbers, so that most comparisons are
// two integer ones and only names that share their first 16 bytes are looked up and compared in
// full. The items are kept small, as sorting moves them about; they live only while sorting.
void TFolderEntries::Sort() {
  struct TSortItem {
    std::uint64_t Head[2];  // the first 16 folded bytes, big-endian, zeros past the name's end
    std::uint32_t Index;
    std::uint32_t Rank;
  };
  const bool leadBytes = HasLeadBytes();
  std::vector<TSortItem> items;
  items.reserve(FRecords.size());
  for (std::uint32_t i = 0; i < FRecords.size(); ++i) {
    const std::string_view name = NameOf(i);
    TSortItem item{{0, 0}, i, DotRank(name)};
    FoldedHead(name, leadBytes, item.Head);
    items.push_back(item);
  }
  std::sort(items.begin(), items.end(), [this, leadBytes](const TSortItem& a, const TSortItem& b) {
    if (a.Rank != b.Rank) return a.Rank < b.Rank;
    if (a.Head[0] != b.Head[0]) return a.Head[0] < b.Head[0];
    if (a.Head[1] != b.Head[1]) return a.Head[1] < b.Head[1];
    const std::string_view aName = NameOf(a.Index), bName = NameOf(b.Index);
    if (const int folded = CompareFolded(aName, bName, leadBytes); folded != 0) return folded < 0;
    return aName < bName;
  });
  FOrder.reserve(items.size());
  for (const TSortItem& item : items) FOrder.push_back(item.Index);
}

std::vector<TSearchRec> FindEntries(const std::string& folder, std::string_view pattern,
                                    std::uint32_t attrMask) {
  const TFolderEntries found(folder, pattern, attrMask);
  std::vector<TSearchRec> entries;
  entries.reserve(found.Size());
  for (const TSearchRec& entry : found) entries.push_back(entry);
  return entries;
}

}  // namespace platform
