#pragma once
// The walk of a folder tree for the answers that hold a whole tree (the XML index): which
// entries they hold, in which order, and which folders they go into.

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <functional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/FindEntries.h"
#include "publish/WithheldRule.h"

/// What a walk reports, entry by entry, in the walk's order.
class ITreeVisitor {
public:
  virtual ~ITreeVisitor() = default;
  /// A file; name is its path relative to the walked folder, "\" before every segment.
  virtual void AddFile(std::string_view name, const platform::TSearchRec& file) = 0;
  /// A folder (name as for a file); what the walk reports until the matching EndFolder lies in it.
  virtual void StartFolder(std::string_view name, const platform::TSearchRec& folder) = 0;
  virtual void EndFolder() = 0;
};

struct TFileIdHash {
  std::size_t operator()(const platform::TFileId& id) const noexcept {
    return std::hash<std::uint64_t>()(id.Inode * 31 + id.Device);
  }
};

/// Walks folders depth first, pre-order, in the order FindEntries gives: every regular file and
/// every folder that Rule does not withhold, each subfolder walked as soon as it is reported.
/// Entries whose status cannot be read, and anything that is neither a regular file nor a
/// folder, are left out, since a request could not be answered with them. Links are followed,
/// but each folder (device and inode) is walked once per walk: met again, through a link or a
/// link back up the tree, it is reported without what it holds. So no link can make a walk
/// endless, or longer than the tree's own folders make it. Holds no state of its own between
/// calls: one walk may serve several threads at once, each with its own visitor.
class TTreeWalk {
public:
  /// The folders a walk has gone into so far.
  using TWalked = std::unordered_set<platform::TFileId, TFileIdHash>;

  /// stop, when given, is polled before each folder is read: once it is set the walk reports
  /// nothing more (what it reported so far is to be thrown away).
  explicit TTreeWalk(TWithheldRule rule, const std::atomic<bool>* stop = nullptr)
      : Rule(std::move(rule)), FStop(stop) {}

  /// The entries of diskFolder that are reported, in the walk's order. A folder that cannot be
  /// read gives none.
  platform::TFolderEntries Entries(const std::string& diskFolder) const;
  /// Reports the entries of diskFolder. name is the folder's relative name ("" for the walked
  /// folder, else "\" and its segments), used as scratch and given back as it came; walked
  /// grows by the folders gone into.
  void AddFolderEntries(ITreeVisitor& visitor, const std::string& diskFolder, std::string& name,
                        TWalked& walked) const;
  /// Reports folder, an entry of parentFolder, and goes into it unless walked holds it.
  void AddFolder(ITreeVisitor& visitor, const std::string& parentFolder, const platform::TSearchRec& folder,
                 std::string& name, TWalked& walked) const;

  const TWithheldRule Rule;

private:
  const std::atomic<bool>* FStop;
};
