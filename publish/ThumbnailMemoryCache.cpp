#include "publish/ThumbnailMemoryCache.h"

TThumbnailMemoryCache::TEntry TThumbnailMemoryCache::Find(const std::string& key) {
  platform::TLockGuard guard(FLock);
  const auto found = FIndex.find(key);
  if (found == FIndex.end()) return nullptr;
  FOrder.splice(FOrder.begin(), FOrder, found->second);
  return found->second->second;
}

void TThumbnailMemoryCache::Store(const std::string& key, TEntry thumbnail) {
  if (!thumbnail || thumbnail->size() > FMaxBytes) return;
  platform::TLockGuard guard(FLock);
  if (const auto found = FIndex.find(key); found != FIndex.end()) {
    FBytes -= found->second->second->size();
    FOrder.erase(found->second);
    FIndex.erase(found);
  }
  FBytes += thumbnail->size();
  FOrder.emplace_front(key, std::move(thumbnail));
  FIndex[key] = FOrder.begin();
  while (FBytes > FMaxBytes) {
    FBytes -= FOrder.back().second->size();
    FIndex.erase(FOrder.back().first);
    FOrder.pop_back();
  }
}

std::size_t TThumbnailMemoryCache::Bytes() const {
  platform::TLockGuard guard(FLock);
  return FBytes;
}
