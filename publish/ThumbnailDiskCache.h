#pragma once
// Thumbnails kept on disk between runs, in the user's cache folder (never in what is published),
// bounded in total size with the oldest files removed first.

#include "platform/Lock.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

/// A folder of thumbnail files, one per source path and box, each naming the size and time of
/// the source it was made from, so a changed source finds its old thumbnail stale and replaces
/// it. Shared by the connection threads; every member is safe from any thread.
class TThumbnailDiskCache {
public:
  /// folder with a trailing "/"; created on the first store. An empty folder keeps nothing.
  TThumbnailDiskCache(std::string folder, std::size_t maxBytes);

  /// The thumbnail stored for the source path as it is now (size, lastWrite) in box, if any.
  std::optional<std::string> Find(const std::string& path, std::int64_t size, std::time_t lastWrite, int box) const;
  /// Stores thumbnail for it (replacing a stale one), then removes the oldest files while the
  /// folder holds more than its bound. A failure to write is silent: the cache is only a cache.
  void Store(const std::string& path, std::int64_t size, std::time_t lastWrite, int box, const std::string& thumbnail);

private:
  std::string FileName(const std::string& path, int box) const;
  void Trim() REQUIRES(FLock);

  const std::string FFolder;
  const std::size_t FMaxBytes;
  mutable platform::TLock FLock;                          // one writer trims at a time
  std::optional<std::size_t> FBytes GUARDED_BY(FLock);  // the folder's total once counted
};
