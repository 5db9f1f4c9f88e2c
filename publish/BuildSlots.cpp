#include "publish/BuildSlots.h"

#include <algorithm>
#include <thread>

#include "http/net/IdException.h"

std::size_t TBuildLimits::DefaultRunning() { return 2 * std::max(1u, std::thread::hardware_concurrency()); }

TBuildSlots::TSlot TBuildSlots::Acquire(const std::string& address) {
  std::unique_lock<std::mutex> lock(FLock);
  if (FRunning < FLimits.Running && FWaiting.empty()) {
    TakeSlot(address);
    return TSlot(*this, address);
  }
  if (FWaiting.size() >= FLimits.Waiting) throw EIdServerBusy();
  TWaiter waiter{address};
  const auto place = FWaiting.insert(FWaiting.end(), &waiter);
  if (!FGranted.wait_for(lock, FLimits.MaxWait, [&waiter] { return waiter.Granted; })) {
    FWaiting.erase(place);
    throw EIdServerBusy();
  }
  return TSlot(*this, address);
}

void TBuildSlots::Release(const std::string& address) {
  std::lock_guard<std::mutex> lock(FLock);
  --FRunning;
  const auto running = FRunningBy.find(address);
  if (--running->second == 0) FRunningBy.erase(running);
  GrantWaiting();
}

void TBuildSlots::GrantWaiting() {
  bool granted = false;
  while (FRunning < FLimits.Running && !FWaiting.empty()) {
    const auto runningFor = [this](const TWaiter* waiter) {
      const auto found = FRunningBy.find(waiter->Address);
      return found == FRunningBy.end() ? std::size_t{0} : found->second;
    };
    // min_element keeps the first of equals: the one that waited longest.
    const auto next = std::min_element(FWaiting.begin(), FWaiting.end(), [&runningFor](const TWaiter* a, const TWaiter* b) {
      return runningFor(a) < runningFor(b);
    });
    (*next)->Granted = true;
    TakeSlot((*next)->Address);
    FWaiting.erase(next);
    granted = true;
  }
  if (granted) FGranted.notify_all();
}

void TBuildSlots::TakeSlot(const std::string& address) {
  ++FRunning;
  ++FRunningBy[address];
}
