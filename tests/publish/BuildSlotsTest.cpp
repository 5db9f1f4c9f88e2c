#include "publish/BuildSlots.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "http/net/IdException.h"

namespace {

using namespace std::chrono_literals;

TBuildLimits Limits(std::size_t running, std::size_t waiting, std::chrono::milliseconds maxWait) {
  TBuildLimits limits;
  limits.Running = running;
  limits.Waiting = waiting;
  limits.MaxWait = maxWait;
  return limits;
}

TEST(BuildSlots, TwoBuildsACoreByDefault) {
  EXPECT_GE(TBuildLimits::DefaultRunning(), 2u);
  EXPECT_EQ(TBuildLimits::DefaultRunning() % 2, 0u);
}

// Past the running builds, a bounded number wait; beyond them, and after the longest wait, the
// answer is busy at once.
TEST(BuildSlots, RefusesBeyondTheQueueAndAfterTheWait) {
  TBuildSlots slots(Limits(1, 1, 10s));
  std::optional<TBuildSlots::TSlot> held(slots.Acquire("a"));
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    try {
      const TBuildSlots::TSlot slot = slots.Acquire("a");
      got = true;
    } catch (const EIdServerBusy&) {
      ADD_FAILURE() << "the first to wait was refused";
    }
  });
  std::this_thread::sleep_for(100ms);  // the waiter takes the one place in the queue
  EXPECT_THROW(slots.Acquire("b"), EIdServerBusy);
  EXPECT_FALSE(got);
  held.reset();
  waiter.join();
  EXPECT_TRUE(got);

  TBuildSlots brief(Limits(1, 4, 50ms));
  const TBuildSlots::TSlot taken = brief.Acquire("a");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(brief.Acquire("b"), EIdServerBusy);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
}

// One address takes neither the last free slot nor more than half the queue: another address
// starts at once while it floods.
TEST(BuildSlots, OneAddressLeavesRoomForOthers) {
  TBuildSlots slots(Limits(3, 4, 10s));
  std::optional<TBuildSlots::TSlot> first(slots.Acquire("flood"));
  const TBuildSlots::TSlot second = slots.Acquire("flood");
  std::atomic<int> started{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) {
    waiters.emplace_back([&] {
      const TBuildSlots::TSlot slot = slots.Acquire("flood");
      ++started;
    });
  }
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(started, 0);  // the third slot is kept
  EXPECT_THROW(slots.Acquire("flood"), EIdServerBusy);  // its half of the queue is full
  const auto start = std::chrono::steady_clock::now();
  {
    const TBuildSlots::TSlot other = slots.Acquire("other");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  }
  first.reset();
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(started, 2);
}

// A freed slot goes to the address with the fewest builds running, not to the one that queued
// first.
TEST(BuildSlots, AFreedSlotGoesToTheLeastBusyAddress) {
  TBuildSlots slots(Limits(3, 8, 10s));
  std::optional<TBuildSlots::TSlot> flood1(slots.Acquire("flood"));
  std::optional<TBuildSlots::TSlot> flood2(slots.Acquire("flood"));
  std::optional<TBuildSlots::TSlot> other(slots.Acquire("other"));
  std::mutex lock;
  std::vector<std::string> order;
  std::vector<std::thread> waiters;
  auto wait = [&](const std::string& address) {
    waiters.emplace_back([&, address] {
      const TBuildSlots::TSlot slot = slots.Acquire(address);
      std::lock_guard<std::mutex> guard(lock);
      order.push_back(address);
    });
    std::this_thread::sleep_for(20ms);  // queued in this order
  };
  wait("flood");
  wait("other");
  other.reset();  // "other" runs none now: its waiter goes first
  std::this_thread::sleep_for(20ms);
  flood1.reset();
  flood2.reset();
  for (std::thread& waiter : waiters) waiter.join();
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(order[0], "other");
}

}  // namespace
