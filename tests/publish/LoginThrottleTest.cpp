#include "publish/LoginThrottle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A clock that moves only when the test moves it.
class TTestClock {
public:
  TLoginThrottle::TNow Now() {
    return [this] { return TLoginThrottle::TClock::time_point(FNow.load()); };
  }
  void Advance(std::chrono::nanoseconds step) { FNow = FNow.load() + step; }

private:
  std::atomic<std::chrono::nanoseconds> FNow{std::chrono::hours(1)};
};

TEST(LoginThrottle, TenFailuresWithinAMinuteLockTheAddressForAMinute) {
  TTestClock clock;
  TLoginThrottle throttle(clock.Now());
  for (int i = 0; i < 9; ++i) {
    EXPECT_FALSE(throttle.Fail("192.0.2.1"));
    clock.Advance(6s);  // the ninth comes 48 s after the first
  }
  EXPECT_EQ(throttle.LockedFor("192.0.2.1"), 0);
  EXPECT_TRUE(throttle.Fail("192.0.2.1"));  // the tenth, 54 s after the first
  EXPECT_EQ(throttle.LockedFor("192.0.2.1"), 60);
  EXPECT_EQ(throttle.LockedFor("192.0.2.2"), 0);  // other addresses are not touched
  EXPECT_FALSE(throttle.Fail("192.0.2.1"));       // a late failure neither prolongs it nor logs again
  clock.Advance(59s + 500ms);
  EXPECT_EQ(throttle.LockedFor("192.0.2.1"), 1);  // rounded up: never "retry after 0"
  clock.Advance(500ms);
  EXPECT_EQ(throttle.LockedFor("192.0.2.1"), 0);
  // The lock-out took the failures before it along: ten more are needed.
  for (int i = 0; i < 9; ++i) EXPECT_FALSE(throttle.Fail("192.0.2.1"));
  EXPECT_TRUE(throttle.Fail("192.0.2.1"));
}

TEST(LoginThrottle, OnlyTheLatestMinuteCounts) {
  TTestClock clock;
  TLoginThrottle throttle(clock.Now());
  // One failure every 7 s: any ten of them span 63 s.
  for (int i = 0; i < 30; ++i) {
    EXPECT_FALSE(throttle.Fail("192.0.2.1")) << i;
    clock.Advance(7s);
  }
  // A failure now makes ten over 63 s; a second one at once makes ten within 56 s.
  EXPECT_FALSE(throttle.Fail("192.0.2.1"));
  EXPECT_TRUE(throttle.Fail("192.0.2.1"));
}

TEST(LoginThrottle, HoldsABoundedNumberOfAddressesForgettingTheOldestFirst) {
  TTestClock clock;
  TLoginThrottle throttle(clock.Now(), 3);
  for (int i = 0; i < 8; ++i) {
    throttle.Fail("a");
    throttle.Fail("b");
  }
  throttle.Fail("a");  // the ninth of a, which makes b the oldest
  throttle.Fail("c");
  throttle.Fail("d");  // b is forgotten
  EXPECT_EQ(throttle.AddressCount(), 3u);
  EXPECT_TRUE(throttle.Fail("a"));   // still counted: the tenth
  EXPECT_FALSE(throttle.Fail("b"));  // begins again at one
  EXPECT_FALSE(throttle.Fail("b"));
}

TEST(LoginThrottle, ManyThreadsLockAnAddressExactlyOnce) {
  TTestClock clock;
  TLoginThrottle throttle(clock.Now(), 256);
  std::atomic<int> started{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&throttle, &started, t] {
      for (int i = 0; i < 200; ++i) {
        if (throttle.Fail("shared")) ++started;
        throttle.Fail("own" + std::to_string(t * 200 + i));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(started, 1);
  EXPECT_EQ(throttle.AddressCount(), 256u);
}

}  // namespace
