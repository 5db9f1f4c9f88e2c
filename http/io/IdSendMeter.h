#pragma once
// How fast an answer leaves: the rule that ends one whose client holds the server by reading too
// little, measured across every send call of the answer.

#include <chrono>
#include <cstdint>
#include <deque>

/// Keeps the progress of one answer's sends and gives the moment by which more must have moved:
/// in any window of WindowMs, at least MinBytes (and at least one byte). The window counts from
/// the answer's first send, so a slow start is no excuse, and time spent between answers does
/// not count. Used by one connection thread.
class TIdSendMeter {
public:
  using TClock = std::chrono::steady_clock;

  /// windowMs 0 or less: no limit.
  void SetLimits(int windowMs, std::int64_t minBytes);
  bool Limited() const { return FWindow.count() > 0; }
  /// The next send begins a new answer.
  void Restart();
  /// The moment the answer is ended unless more moves before it; the first call of an answer
  /// starts its window at now. Only meaningful while Limited().
  TClock::time_point Deadline(TClock::time_point now);
  /// How much later than Deadline() the rule may end up applied: the meter counts sends in
  /// slices of the window, to the client's favour.
  TClock::duration Tolerance() const;
  /// bytes left in one send call that ended at now.
  void Moved(std::int64_t bytes, TClock::time_point now);

private:
  struct TProgress {
    TClock::time_point At;
    std::int64_t Bytes;
  };

  std::chrono::milliseconds FWindow{0};
  std::int64_t FMinBytes = 1;
  bool FStarted = false;
  TClock::time_point FStart;
  // The latest sends, oldest first, back to the newest one from which MinBytes are reached;
  // FHeld is their sum.
  std::deque<TProgress> FRecent;
  std::int64_t FHeld = 0;
};
