#pragma once
// A list of thread references with its own lock: every read or change, counting included,
// happens with the lock held.

#include "platform/Lock.h"

#include <algorithm>
#include <cstddef>
#include <vector>

template <typename T>
class TIdThreadList {
public:
  void Add(T* item) {
    platform::TLockGuard lock(FLock);
    FItems.push_back(item);
  }
  void Remove(T* item) {
    platform::TLockGuard lock(FLock);
    std::erase(FItems, item);
  }
  std::size_t Count() const {
    platform::TLockGuard lock(FLock);
    return FItems.size();
  }
  bool IsEmpty() const { return Count() == 0; }
  /// Calls action for every item with the lock held: the items cannot leave meanwhile.
  template <typename Action>
  void ForEach(Action action) const {
    platform::TLockGuard lock(FLock);
    for (T* item : FItems) action(*item);
  }

private:
  mutable platform::TLock FLock;
  std::vector<T*> FItems GUARDED_BY(FLock);
};
