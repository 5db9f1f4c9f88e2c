#pragma once
// A list of thread references with its own lock: every read or change, counting included,
// happens with the lock held.

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <vector>

template <typename T>
class TIdThreadList {
public:
  void Add(T* item) {
    std::lock_guard<std::mutex> lock(FLock);
    FItems.push_back(item);
  }
  void Remove(T* item) {
    std::lock_guard<std::mutex> lock(FLock);
    std::erase(FItems, item);
  }
  std::size_t Count() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FItems.size();
  }
  bool IsEmpty() const { return Count() == 0; }
  /// Calls action for every item with the lock held: the items cannot leave meanwhile.
  template <typename Action>
  void ForEach(Action action) const {
    std::lock_guard<std::mutex> lock(FLock);
    for (T* item : FItems) action(*item);
  }

private:
  mutable std::mutex FLock;
  std::vector<T*> FItems;  // guarded by FLock
};
