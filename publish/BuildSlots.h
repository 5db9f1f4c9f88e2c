#pragma once
// How many answers are built at once: listings and indexes take a core and memory while they
// are built, so only a few are built at a time and the rest wait their turn, a bounded while.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <list>
#include "platform/Lock.h"
#include <string>
#include <unordered_map>
#include <utility>

/// The bounds on builds at once: Running build, up to Waiting more wait, each at most MaxWait.
struct TBuildLimits {
  std::size_t Running = DefaultRunning();
  std::size_t Waiting = 64;
  std::chrono::milliseconds MaxWait{10000};

  /// Two builds a core (two in all when the number of cores is unknown).
  static std::size_t DefaultRunning();
};

/// The slots for builds. A free slot goes to the waiting build of the client address that has
/// the fewest builds running, the one that waited longest among equals. One address never takes
/// the last free slot, nor more than half the places in the queue, so that one address asking
/// for many answers never keeps another waiting behind all of them. Any thread.
class TBuildSlots {
public:
  explicit TBuildSlots(TBuildLimits limits) : FLimits(limits) {}
  TBuildSlots(const TBuildSlots&) = delete;
  TBuildSlots& operator=(const TBuildSlots&) = delete;

  /// A slot held; given back when destroyed. Move-only.
  class TSlot {
  public:
    TSlot(TSlot&& other) noexcept : FOwner(std::exchange(other.FOwner, nullptr)), FAddress(std::move(other.FAddress)) {}
    TSlot& operator=(TSlot&&) = delete;
    ~TSlot() {
      if (FOwner != nullptr) FOwner->Release(FAddress);
    }

  private:
    friend class TBuildSlots;
    TSlot(TBuildSlots& owner, std::string address) : FOwner(&owner), FAddress(std::move(address)) {}

    TBuildSlots* FOwner;
    std::string FAddress;
  };

  /// A slot for a build asked for by address, waiting for one when all are taken. Throws
  /// EIdServerBusy when Waiting builds wait already, or when no slot came within MaxWait.
  TSlot Acquire(const std::string& address);

private:
  struct TWaiter {
    std::string Address;
    bool Granted = false;
    // Each waiter is woken alone, when its slot is given: dozens waiting on one shared
    // condition all woke at every grant, to find it was not theirs.
    std::condition_variable Woken;
  };

  void Release(const std::string& address);
  std::size_t RunningFor(const std::string& address) const REQUIRES(FLock);
  bool MayStart(const std::string& address) const REQUIRES(FLock);
  // Gives free slots to waiters that may start, fewest running for their address first.
  void GrantWaiting() REQUIRES(FLock);
  void TakeSlot(const std::string& address) REQUIRES(FLock);

  const TBuildLimits FLimits;
  mutable platform::TLock FLock;
  std::size_t FRunning GUARDED_BY(FLock) = 0;
  std::unordered_map<std::string, std::size_t> FRunningBy GUARDED_BY(FLock);  // addresses with builds running
  std::list<TWaiter*> FWaiting GUARDED_BY(FLock);                             // oldest first
};
