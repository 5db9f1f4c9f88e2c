#pragma once
// A mutex the lock rules checker knows, and the guard that holds it for a scope.

#include "platform/ThreadSafety.h"

#include <mutex>

namespace platform {

/// A plain mutex. Name it in GUARDED_BY beside the fields it guards. Held through TLockGuard.
class CAPABILITY("mutex") TLock {
public:
  TLock() = default;
  TLock(const TLock&) = delete;
  TLock& operator=(const TLock&) = delete;

private:
  friend class TLockGuard;
  std::mutex FMutex;
};

/// Holds a TLock from construction to the end of its scope. Unlock() and Lock() let go of it
/// for a while within the scope (around a call that must not run under it); Native() is what a
/// std::condition_variable waits with, which lets go and takes the lock again inside the wait.
class SCOPED_CAPABILITY TLockGuard {
public:
  explicit TLockGuard(TLock& lock) ACQUIRE(lock) : FHeld(lock.FMutex) {}
  ~TLockGuard() RELEASE() = default;
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

  void Unlock() RELEASE() { FHeld.unlock(); }
  void Lock() ACQUIRE() { FHeld.lock(); }
  std::unique_lock<std::mutex>& Native() { return FHeld; }

private:
  std::unique_lock<std::mutex> FHeld;
};

}  // namespace platform
