#pragma once
// A moment by which something must be done, for waits that may be cut into many pieces.

#include <chrono>

/// Fixed at construction; none when made from a limit of 0 or less. Used by one thread.
class TIdDeadline {
public:
  explicit TIdDeadline(int limitMs);

  /// The milliseconds left for a wait (Id_TIMEOUT_INFINITE without a limit). Throws
  /// EIdReadTimeout once the moment has passed.
  int RemainingMs() const;

private:
  bool FUnlimited;
  std::chrono::steady_clock::time_point FEnd;
};
