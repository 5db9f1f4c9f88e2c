#pragma once
// Folder enumeration with a wildcard pattern and an attribute filter, in the order a Windows
// user sees: "." and ".." first, then by name ignoring ASCII letter case, ties in byte order.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"

namespace platform {

/// One entry of a folder: its name (bytes of the system code page, no folder part) and its
/// status, links followed.
struct TSearchRec : TFileInfo {
  std::string Name;
};

/// Whether name matches the wildcard pattern: "*" any run of characters, "?" one character,
/// other characters equal ignoring ASCII letter case (the bytes of a double-byte character
/// compare exactly). "*" and "*.*" match every name; a pattern ending in "." matches only
/// names without "." (so "*." picks the names without an extension).
bool MatchesMask(std::string_view name, std::string_view pattern);

/// The entries of folder whose names match pattern and that carry none of the bits hidden,
/// system, volume label or folder missing from attrMask (read-only and archive never keep an
/// entry out), in order. A folder that cannot be read gives no entries. Never changes the
/// working directory; any thread.
///
/// Held lean, since a folder may hold hundreds of thousands of entries and several are read at
/// once: the names in large shared blocks, the status of each entry in a small record, and the
/// order as indexes sorted by comparing the names in place (no sort key is made). Each entry is
/// handed out as a TSearchRec that the iteration fills in turn.
class TFolderEntries {
public:
  TFolderEntries(const std::string& folder, std::string_view pattern, std::uint32_t attrMask);
  /// A large folder's memory goes back to the system, not only to the allocator.
  ~TFolderEntries();
  TFolderEntries(TFolderEntries&&) = default;
  TFolderEntries& operator=(TFolderEntries&&) = default;

  std::size_t Size() const { return FOrder.size(); }
  bool Empty() const { return FOrder.empty(); }

  /// The name and the status of the entry at position (0 to Size() - 1, in order), read in
  /// place: valid while the entries live and nothing is erased.
  std::string_view Name(std::size_t position) const { return NameOf(FOrder[position]); }
  const TFileInfo& Info(std::size_t position) const { return FRecords[FOrder[position]].Info; }

  /// Leaves out every entry that leaveOut holds true for, the order of the rest kept.
  template <class TPredicate>
  void EraseIf(TPredicate leaveOut) {
    TSearchRec entry;
    std::erase_if(FOrder, [&](std::uint32_t index) {
      Fill(index, entry);
      return leaveOut(std::as_const(entry));
    });
  }

  /// Where an iteration ends.
  struct TEnd {};

  /// Goes through the entries in order. What it points at is valid until it is moved on. Small
  /// on the stack (the entry it fills is held apart), since a tree walk holds one per folder
  /// level on a connection thread's stack.
  class TIterator {
  public:
    using value_type = TSearchRec;
    using difference_type = std::ptrdiff_t;

    explicit TIterator(const TFolderEntries& entries) : FEntries(&entries), FEntry(std::make_unique<TSearchRec>()) {
      Load();
    }
    const TSearchRec& operator*() const { return *FEntry; }
    const TSearchRec* operator->() const { return FEntry.get(); }
    TIterator& operator++() {
      ++FPosition;
      Load();
      return *this;
    }
    bool operator==(TEnd) const { return FPosition == FEntries->FOrder.size(); }

  private:
    void Load() {
      if (FPosition < FEntries->FOrder.size()) FEntries->Fill(FEntries->FOrder[FPosition], *FEntry);
    }
    const TFolderEntries* FEntries;
    std::size_t FPosition = 0;
    std::unique_ptr<TSearchRec> FEntry;
  };

  TIterator begin() const { return TIterator(*this); }
  TEnd end() const { return {}; }

private:
  // An entry's status and where its name lies: a name never spans two blocks.
  struct TRecord {
    TFileInfo Info;
    std::uint32_t Block;
    std::uint16_t Offset;
    std::uint16_t Length;
  };

  void Add(std::string_view name, const TFileInfo& info);
  std::string_view NameOf(std::uint32_t index) const;
  void Fill(std::uint32_t index, TSearchRec& entry) const;
  void Sort();

  std::deque<TRecord> FRecords;  // in the order read; a deque grows without moving what it holds
  std::vector<std::unique_ptr<char[]>> FBlocks;
  std::size_t FBlockUsed = 0;  // bytes used in the last block
  std::vector<std::uint32_t> FOrder;
};

/// The entries of TFolderEntries as one vector, for the callers that want them so.
std::vector<TSearchRec> FindEntries(const std::string& folder, std::string_view pattern,
                                    std::uint32_t attrMask);

}  // namespace platform
