#include "publish/BuildSlots.h"

#include <algorithm>
#include <thread>

#include "http/net/IdException.h"

std::size_t TBuildLimits::DefaultRunning() { return 2 * std::max(1u, std::thread::hardware_concurrency()); }

TBuildSlots::TSlot TBuildSlots::Acquire(const std::string& address) {
  platform::TLockGuard lock(FLock);
  // Every waiter that may start has been given its slot already: none is passed over here.
  if (MayStart(address)) {
    TakeSlot(address);
    return TSlot(*this, address);
  }
  const std::size_t waitingFor = static_cast<std::size_t>(
      std::count_if(FWaiting.begin(), FWaiting.end(), [&address](const TWaiter* w) { return w->Address == address; }));
  // One address may fill half the queue at most: there is always room for the others.
  if (FWaiting.size() >= FLimits.Waiting || 2 * waitingFor >= std::max<std::size_t>(FLimits.Waiting, 2)) {
    throw EIdServerBusy();
  }
  TWaiter waiter;
  waiter.Address = address;
  const auto place = FWaiting.insert(FWaiting.end(), &waiter);
  if (!waiter.Woken.wait_for(lock.Native(), FLimits.MaxWait, [&waiter] { return waiter.Granted; })) {
    FWaiting.erase(place);
    throw EIdServerBusy();
  }
  return TSlot(*this, address);
}

void TBuildSlots::Release(const std::string& address) {
  const platform::TLockGuard lock(FLock);
  --FRunning;
  const auto running = FRunningBy.find(address);
  if (--running->second == 0) FRunningBy.erase(running);
  GrantWaiting();
}

std::size_t TBuildSlots::RunningFor(const std::string& address) const {
  const auto found = FRunningBy.find(address);
  return found == FRunningBy.end() ? 0 : found->second;
}

bool TBuildSlots::MayStart(const std::string& address) const {
  // The last free slot is kept for another address, so that it never waits behind one that
  // asks for many answers at once.
  return FRunning < FLimits.Running && (FLimits.Running < 2 || RunningFor(address) + 1 < FLimits.Running);
}

void TBuildSlots::GrantWaiting() {
  for (;;) {
    // Of those that may start, the one whose address runs fewest; among equals the first, the
    // one that waited longest.
    auto next = FWaiting.end();
    for (auto it = FWaiting.begin(); it != FWaiting.end(); ++it) {
      if (!MayStart((*it)->Address)) continue;
      if (next == FWaiting.end() || RunningFor((*it)->Address) < RunningFor((*next)->Address)) next = it;
    }
    if (next == FWaiting.end()) break;
    TWaiter& waiter = **next;
    waiter.Granted = true;
    TakeSlot(waiter.Address);
    FWaiting.erase(next);
    // Under the lock: the waiter cannot leave its wait, and take its TWaiter with it, before.
    waiter.Woken.notify_one();
  }
}

void TBuildSlots::TakeSlot(const std::string& address) {
  ++FRunning;
  ++FRunningBy[address];
}
