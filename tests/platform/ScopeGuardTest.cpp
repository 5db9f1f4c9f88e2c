#include "platform/ScopeGuard.h"

#include <stdexcept>
#include <gtest/gtest.h>

namespace {

TEST(TAtScopeEnd, RunsOnEveryWayOutAndAFailureOnlyPassesOnWhenNoneIsUnderWay) {
  int runs = 0;
  {
    platform::TAtScopeEnd end([&] { ++runs; });
  }
  EXPECT_EQ(runs, 1);
  // Left normally: the action's own failure is what the caller sees.
  EXPECT_THROW(
      {
        platform::TAtScopeEnd end([&] {
          ++runs;
          throw std::runtime_error("clean-up");
        });
      },
      std::runtime_error);
  EXPECT_EQ(runs, 2);
  // Left by an error: that error goes on, the action's failure is dropped.
  try {
    platform::TAtScopeEnd end([&] {
      ++runs;
      throw std::runtime_error("clean-up");
    });
    throw std::logic_error("body");
  } catch (const std::logic_error& error) {
    EXPECT_STREQ(error.what(), "body");
  }
  EXPECT_EQ(runs, 3);
}

TEST(TOnScopeFailure, UndoesOnlyWhenTheScopeFails) {
  int undone = 0;
  {
    platform::TOnScopeFailure undo([&] { ++undone; });
  }
  EXPECT_EQ(undone, 0);
  try {
    platform::TOnScopeFailure undo([&] {
      ++undone;
      throw std::runtime_error("undo");
    });
    throw std::logic_error("body");
  } catch (const std::logic_error&) {
  }
  EXPECT_EQ(undone, 1);
  // A guard made while another error unwinds the stack counts only its own scope's failure.
  struct TInDestructor {
    int& Undone;
    ~TInDestructor() {
      platform::TOnScopeFailure undo([this] { ++Undone; });
    }
  };
  try {
    TInDestructor inDestructor{undone};
    throw std::logic_error("outer");
  } catch (const std::logic_error&) {
  }
  EXPECT_EQ(undone, 1);
}

}  // namespace
