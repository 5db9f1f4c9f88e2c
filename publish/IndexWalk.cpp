#include "publish/IndexWalk.h"

#include <algorithm>

#include "platform/FileDate.h"
#include "platform/FilePath.h"

namespace {

bool IsFolder(const platform::TSearchRec& entry) { return (entry.Attr & platform::faDirectory) != 0; }

}  // namespace

std::vector<platform::TSearchRec> TIndexWalk::Entries(const std::string& diskFolder) const {
  std::vector<platform::TSearchRec> entries = platform::FindEntries(diskFolder, "*", platform::faAnyFile);
  std::erase_if(entries, [this](const platform::TSearchRec& entry) {
    // Unreadable entries carry every bit, and a request for one would find nothing to send.
    if (!entry.Readable() || (entry.Attr & WithheldMask) != 0) return true;
    if (IsFolder(entry)) return entry.Name == "." || entry.Name == "..";
    return (entry.Attr & platform::faArchive) == 0;
  });
  return entries;
}

void TIndexWalk::AddFolderEntries(TFileIndexWriter& writer, const std::string& diskFolder, std::string& name,
                                  TPath& path) const {
  if (FStop != nullptr && FStop->load(std::memory_order_relaxed)) return;
  const std::size_t folderLength = name.size();
  for (const platform::TSearchRec& entry : Entries(diskFolder)) {
    if (IsFolder(entry)) {
      AddFolder(writer, diskFolder, entry, name, path);
      continue;
    }
    name += '\\';
    name += entry.Name;
    writer.AddFile(name, platform::FileDateFromTime(entry.LastWrite), entry.Size);
    name.resize(folderLength);
  }
}

void TIndexWalk::AddFolder(TFileIndexWriter& writer, const std::string& parentFolder,
                           const platform::TSearchRec& folder, std::string& name, TPath& path) const {
  writer.StartFolder(folder.Name);
  if (std::find(path.begin(), path.end(), folder.Id) == path.end()) {
    const std::size_t parentLength = name.size();
    name += '\\';
    name += folder.Name;
    path.push_back(folder.Id);
    AddFolderEntries(writer, platform::JoinPath(parentFolder, folder.Name), name, path);
    path.pop_back();
    name.resize(parentLength);
  }
  writer.EndFolder();
}
