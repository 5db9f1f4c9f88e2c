#include "publish/ThumbnailGate.h"

#include <algorithm>
#include <chrono>

TThumbnailGate::TThumbnailGate(int slots, int queueLimit) : FSlots(std::max(slots, 1)), FQueueLimit(std::max(queueLimit, 0)) {}

TThumbnailGate::TResult TThumbnailGate::Enter(const std::function<bool()>& abandoned, int pollMs) {
  platform::TLockGuard guard(FLock);
  if (FRunning < FSlots && FWaiting == 0) {
    ++FRunning;
    return grEntered;
  }
  if (FWaiting >= FQueueLimit) return grFull;
  ++FWaiting;
  while (FRunning >= FSlots) {
    FFreed.wait_for(guard.Native(), std::chrono::milliseconds(pollMs));
    if (FRunning < FSlots) break;
    // Asked without the lock: it may make a system call.
    guard.Unlock();
    const bool gone = abandoned();
    guard.Lock();
    if (gone) {
      --FWaiting;
      // A slot freed meanwhile goes to the next in line, not to nobody.
      if (FRunning < FSlots) FFreed.notify_one();
      return grAbandoned;
    }
  }
  --FWaiting;
  ++FRunning;
  return grEntered;
}

void TThumbnailGate::Leave() {
  {
    platform::TLockGuard guard(FLock);
    --FRunning;
  }
  FFreed.notify_one();
}

int TThumbnailGate::Running() const {
  platform::TLockGuard guard(FLock);
  return FRunning;
}

int TThumbnailGate::Waiting() const {
  platform::TLockGuard guard(FLock);
  return FWaiting;
}
