#pragma once
// Checksums of a zip archive's files: from the cache when it knows the file's version, else
// read from the disk and then kept in the cache.

#include "publish/ArchiveLayout.h"

class TCrcCache;

/// Reads an entry's file only when the cache lacks it; the cache is shared, this object is
/// used by one thread at a time.
class TFileCrcSource : public ICrcSource {
public:
  explicit TFileCrcSource(TCrcCache& cache) : FCache(cache) {}

  /// Throws EFOpenError when the file cannot be opened, EIdFileChanged when its identity, size
  /// or modification time is not the entry's, before or while it is read.
  std::uint32_t CrcOf(const TArchiveEntry& entry) override;

private:
  TCrcCache& FCache;
};
