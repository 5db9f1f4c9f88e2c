#pragma once
// The walk of a folder tree into the elements of the XML index: which entries appear, in which
// order, and how deep it goes.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FindEntries.h"
#include "publish/UnitXML.h"

/// Walks folders depth first, pre-order, in the order FindEntries gives, writing a "File"
/// element for each regular file and a "Folder" element for each folder, each subfolder walked
/// as soon as its element opens. Leaves out what a request could not be answered with: entries
/// whose status cannot be read, entries carrying a bit of WithheldMask (and everything below
/// them), and anything that is neither a regular file nor a folder. Never enters a folder that
/// is already on the way down to it (device and inode compared), so that a link back up the
/// tree cannot make it endless. Holds no state of its own between calls: one walk may serve
/// several threads at once, each with its own writer.
class TIndexWalk {
public:
  /// Folders on the way down to the one being walked, the indexed folder first.
  using TPath = std::vector<platform::TFileId>;

  /// stop, when given, is polled before each folder is read: once it is set the walk writes
  /// nothing more (what it wrote so far is to be thrown away).
  explicit TIndexWalk(std::uint32_t withheldMask, const std::atomic<bool>* stop = nullptr)
      : WithheldMask(withheldMask), FStop(stop) {}

  /// The entries of diskFolder that get an element, in the walk's order. A folder that cannot
  /// be read gives none.
  std::vector<platform::TSearchRec> Entries(const std::string& diskFolder) const;
  /// The elements for the entries of diskFolder. name is the folder's relative name ("" for
  /// the indexed folder, else "\" and its segments) and path the folders down to it, itself
  /// included; both are used as scratch and given back as they came.
  void AddFolderEntries(TFileIndexWriter& writer, const std::string& diskFolder, std::string& name,
                        TPath& path) const;
  /// The "Folder" element of folder, an entry of parentFolder, with everything below it.
  void AddFolder(TFileIndexWriter& writer, const std::string& parentFolder, const platform::TSearchRec& folder,
                 std::string& name, TPath& path) const;

  const std::uint32_t WithheldMask;

private:
  const std::atomic<bool>* FStop;
};
