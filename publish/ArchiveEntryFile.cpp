#include "publish/ArchiveEntryFile.h"

#include "http/net/IdException.h"

void ThrowEntryChanged(const TArchiveEntry& entry) {
  throw EIdFileChanged("File changed since the folder was read: " + entry.DiskPath);
}

void CheckOpenedAsWalked(const TArchiveEntry& entry, const platform::TReadOnlyFile& file) {
  // An entry without its identity (a file system that gives none) is judged by size and time.
  const bool sameId = entry.Id == platform::TFileId{} || file.IdAtOpen() == entry.Id;
  if (!file.IsOpen() || !sameId || file.SizeAtOpen() != entry.Size || file.LastWriteNsAtOpen() != entry.LastWriteNs)
    ThrowEntryChanged(entry);
}

void CheckUnchangedSinceOpen(const TArchiveEntry& entry, const platform::TReadOnlyFile& file) {
  if (file.ChangedSinceOpen()) ThrowEntryChanged(entry);
}
