#pragma once
// Clean-up that runs however a scope is left, in place of a catch that cleans up and rethrows.

#include <exception>
#include <utility>

namespace platform {

/// Runs its action when the scope ends. Left normally, a failing action's exception passes on;
/// left by an exception, a failing action is ignored, so that the error that ended the scope is
/// the one that goes on.
template <typename Action>
class TAtScopeEnd {
public:
  explicit TAtScopeEnd(Action action) : FAction(std::move(action)) {}
  ~TAtScopeEnd() noexcept(false) {
    if (std::uncaught_exceptions() == FUncaught) {
      FAction();
      return;
    }
    try {
      FAction();
    } catch (...) {
    }
  }
  TAtScopeEnd(const TAtScopeEnd&) = delete;
  TAtScopeEnd& operator=(const TAtScopeEnd&) = delete;

private:
  Action FAction;
  int FUncaught = std::uncaught_exceptions();
};

/// Runs its action only when the scope is left by an exception: it undoes what the scope had
/// done so far. A failing action is ignored; the error that ended the scope goes on.
template <typename Action>
class TOnScopeFailure {
public:
  explicit TOnScopeFailure(Action action) : FAction(std::move(action)) {}
  ~TOnScopeFailure() {
    if (std::uncaught_exceptions() == FUncaught) return;
    try {
      FAction();
    } catch (...) {
    }
  }
  TOnScopeFailure(const TOnScopeFailure&) = delete;
  TOnScopeFailure& operator=(const TOnScopeFailure&) = delete;

private:
  Action FAction;
  int FUncaught = std::uncaught_exceptions();
};

}  // namespace platform
