#pragma once
// An archive entry's file as it is read for the archive: it must still be the version the walk
// saw, from its open to its last byte, or the archive stops rather than send other bytes under
// the length it promised.

#include "platform/ReadOnlyFile.h"
#include "publish/ArchiveLayout.h"

/// Throws EIdFileChanged naming entry's file on disk.
[[noreturn]] void ThrowEntryChanged(const TArchiveEntry& entry);

/// Throws EIdFileChanged unless file, opened for entry, is the file and version the walk saw
/// (identity, size and modification time; a file that did not open is no such version).
void CheckOpenedAsWalked(const TArchiveEntry& entry, const platform::TReadOnlyFile& file);

/// Throws EIdFileChanged when file changed since it was opened: a write while it was read.
void CheckUnchangedSinceOpen(const TArchiveEntry& entry, const platform::TReadOnlyFile& file);
