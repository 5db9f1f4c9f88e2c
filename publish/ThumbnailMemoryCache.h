#pragma once
// Finished thumbnails kept in memory, the least recently used dropped first.

#include "platform/Lock.h"

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

/// A bounded cache from key to thumbnail file. Holds at most MaxBytes of thumbnails (an entry
/// larger than that is not kept). Shared by the connection threads; every member is safe from
/// any thread.
class TThumbnailMemoryCache {
public:
  using TEntry = std::shared_ptr<const std::string>;

  explicit TThumbnailMemoryCache(std::size_t maxBytes) : FMaxBytes(maxBytes) {}

  /// The thumbnail stored under key, now the most recently used; null when there is none.
  TEntry Find(const std::string& key);
  /// Stores thumbnail under key (replacing what was there), then drops the least recently used
  /// entries until the total fits.
  void Store(const std::string& key, TEntry thumbnail);
  /// The bytes held now.
  std::size_t Bytes() const;

private:
  using TOrder = std::list<std::pair<std::string, TEntry>>;  // most recently used first

  const std::size_t FMaxBytes;
  mutable platform::TLock FLock;
  TOrder FOrder GUARDED_BY(FLock);
  std::unordered_map<std::string, TOrder::iterator> FIndex GUARDED_BY(FLock);
  std::size_t FBytes GUARDED_BY(FLock) = 0;
};
