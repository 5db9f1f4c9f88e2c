#include "publish/TreeWalk.h"

#include <memory>

#include "platform/FilePath.h"

namespace {

bool IsFolder(const platform::TSearchRec& entry) { return (entry.Attr & platform::faDirectory) != 0; }

}  // namespace

platform::TFolderEntries TTreeWalk::Entries(const std::string& diskFolder) const {
  platform::TFolderEntries entries(diskFolder, "*", platform::faAnyFile);
  entries.EraseIf([this](const platform::TSearchRec& entry) {
    // Unreadable entries carry every bit, and a request for one would find nothing to send.
    if (!entry.Readable()) return true;
    if (IsFolder(entry)) return entry.Name == "." || entry.Name == ".." || Rule.WithholdsFolder(entry);
    return (entry.Attr & platform::faArchive) == 0 || Rule.WithholdsFile(entry, entry.Name);
  });
  return entries;
}

void TTreeWalk::AddFolderEntries(ITreeVisitor& visitor, const std::string& diskFolder, std::string& name,
                                 TWalked& walked) const {
  if (FStop != nullptr && FStop->load(std::memory_order_relaxed)) return;
  const std::size_t folderLength = name.size();
  // On the heap: a walk goes as deep as a path can name, one level of this on the stack for each.
  const auto entries = std::make_unique<const platform::TFolderEntries>(Entries(diskFolder));
  for (const platform::TSearchRec& entry : *entries) {
    if (IsFolder(entry)) {
      AddFolder(visitor, diskFolder, entry, name, walked);
      continue;
    }
    name += '\\';
    name += entry.Name;
    visitor.AddFile(name, entry);
    name.resize(folderLength);
  }
}

void TTreeWalk::AddFolder(ITreeVisitor& visitor, const std::string& parentFolder, const platform::TSearchRec& folder,
                          std::string& name, TWalked& walked) const {
  const std::size_t parentLength = name.size();
  name += '\\';
  name += folder.Name;
  visitor.StartFolder(name, folder);
  if (walked.insert(folder.Id).second) {
    AddFolderEntries(visitor, platform::JoinPath(parentFolder, folder.Name), name, walked);
  }
  visitor.EndFolder();
  name.resize(parentLength);
}
