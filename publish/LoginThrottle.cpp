#include "publish/LoginThrottle.h"

#include <utility>

TLoginThrottle::TLoginThrottle(TNow now, std::size_t maxAddresses)
    : FNow(std::move(now)), FMaxAddresses(maxAddresses) {}

long long TLoginThrottle::LockedFor(const std::string& address) {
  const TClock::time_point now = FNow();
  const platform::TLockGuard guard(FLock);
  const auto found = FRecords.find(address);
  if (found == FRecords.end() || found->second.LockedUntil <= now) return 0;
  return std::chrono::ceil<std::chrono::seconds>(found->second.LockedUntil - now).count();
}

bool TLoginThrottle::Fail(const std::string& address) {
  const TClock::time_point now = FNow();
  const platform::TLockGuard guard(FLock);
  auto [found, added] = FRecords.try_emplace(address);
  TRecord& record = found->second;
  if (added) {
    FAges.push_front(address);
    if (FRecords.size() > FMaxAddresses) {
      FRecords.erase(FAges.back());
      FAges.pop_back();
    }
  } else {
    FAges.splice(FAges.begin(), FAges, record.Age);
  }
  record.Age = FAges.begin();
  // A failure that raced a lock-out's start, past its check, adds nothing.
  if (record.LockedUntil > now) return false;
  record.Failures[record.Next] = now;
  record.Next = (record.Next + 1) % MaxFailures;
  if (record.Count < MaxFailures) ++record.Count;
  // With the ring full, its next slot holds the oldest of the latest MaxFailures failures.
  if (record.Count < MaxFailures || now - record.Failures[record.Next] > Window) return false;
  record.LockedUntil = now + LockOut;
  record.Count = 0;
  return true;
}

std::size_t TLoginThrottle::AddressCount() {
  const platform::TLockGuard guard(FLock);
  return FRecords.size();
}
