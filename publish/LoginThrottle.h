#pragma once
// Slows password guessing: an address that fails to log in too often is refused for a while,
// without its passwords being looked at.

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include "platform/Lock.h"
#include <string>
#include <unordered_map>

/// Failed logins per client address. After MaxFailures failures within Window, the address is
/// locked out for LockOut; the failures before a lock-out are forgotten with it. Holds at most
/// the given number of addresses: beyond it, the one whose last failure is oldest is forgotten.
/// Any thread, many at once.
class TLoginThrottle {
public:
  using TClock = std::chrono::steady_clock;
  using TNow = std::function<TClock::time_point()>;

  static constexpr std::size_t MaxFailures = 10;
  static constexpr std::chrono::seconds Window{60};
  static constexpr std::chrono::seconds LockOut{60};
  static constexpr std::size_t DefaultMaxAddresses = 4096;

  /// now gives the current moment (tests give their own clock).
  explicit TLoginThrottle(TNow now = TClock::now, std::size_t maxAddresses = DefaultMaxAddresses);

  /// The whole seconds, at least 1, that address stays locked out; 0 when it is not.
  long long LockedFor(const std::string& address);

  /// Counts a failed login from address. True when this failure starts its lock-out.
  bool Fail(const std::string& address);

  /// How many addresses are held. For tests.
  std::size_t AddressCount();

private:
  struct TRecord {
    std::array<TClock::time_point, MaxFailures> Failures{};  // a ring of the latest failures
    std::size_t Count = 0;                                   // failures held in the ring
    std::size_t Next = 0;                                    // where the next one goes
    TClock::time_point LockedUntil{};
    std::list<std::string>::iterator Age;  // its place in FAges
  };

  const TNow FNow;
  const std::size_t FMaxAddresses;
  platform::TLock FLock;
  std::unordered_map<std::string, TRecord> FRecords GUARDED_BY(FLock);
  std::list<std::string> FAges GUARDED_BY(FLock);  // latest failure first
};
