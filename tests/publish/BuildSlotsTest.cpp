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

// A freed slot goes to the address with the fewest builds running, not to the one that queued
// the most.
TEST(BuildSlots, AFreedSlotGoesToTheLeastBusyAddress) {
  TBuildSlots slots(Limits(2, 8, 10s));
  std::optional<TBuildSlots::TSlot> first(slots.Acquire("flood"));
  std::optional<TBuildSlots::TSlot> second(slots.Acquire("flood"));
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
  wait("flood");
  wait("other");
  first.reset();  // "other" has none running: it goes first
  std::this_thread::sleep_for(20ms);
  second.reset();
  for (std::thread& waiter : waiters) waiter.join();
  ASSERT_EQ(order.size(), 3u);
  EXPECT_EQ(order[0], "other");
}

}  // namespace
