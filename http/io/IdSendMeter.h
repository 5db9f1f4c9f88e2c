#pragma once
// How fast an answer leaves: the rule that ends one whose client holds the server by reading too
// little, measured across every send call of the answer.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

/// Keeps the progress of one answer's sends and gives the moment by which more must have moved:
/// in any window of WindowMs, at least MinBytes (and at least one byte). The window counts from
/// the answer's first send, so a slow start is no excuse. Time spent between answers does not
/// count, nor does the server's own work between two sends of an answer (reading a large file's
/// checksum, say): only the client can be held to the rule. Used by one connection thread.
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
  /// The server begins or ends a write of the answer, which may take several send calls; the
  /// time from one write's end to the next one's beginning is the server's, not the client's.
  void WriteBegins(TClock::time_point now);
  void WriteEnds(TClock::time_point now);

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
  // The server's own time between writes so far: every moment above is kept on a clock that
  // stands still through it, so that the moments the client is judged by stay in one order.
  TClock::duration FServerTime{0};
  std::optional<TClock::time_point> FLastWriteEnd;
};

/// One write of an answer, however many send calls it takes, told to the meter from its
/// beginning to its end.
class TIdMeteredWrite {
public:
  explicit TIdMeteredWrite(TIdSendMeter& meter) : FMeter(meter) {
    if (FMeter.Limited()) FMeter.WriteBegins(TIdSendMeter::TClock::now());
  }
  ~TIdMeteredWrite() {
    if (FMeter.Limited()) FMeter.WriteEnds(TIdSendMeter::TClock::now());
  }
  TIdMeteredWrite(const TIdMeteredWrite&) = delete;
  TIdMeteredWrite& operator=(const TIdMeteredWrite&) = delete;

private:
  TIdSendMeter& FMeter;
};
