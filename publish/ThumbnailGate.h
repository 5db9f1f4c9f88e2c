#pragma once
// The gate in front of image decoding: a few decodes at once, a bounded line of waiting
// requests, and no line at all beyond it.

#include "platform/Lock.h"

#include <condition_variable>
#include <functional>

/// Lets at most Slots holders through at once, with at most QueueLimit more waiting. Shared by
/// the connection threads; every member is safe from any thread.
class TThumbnailGate {
public:
  enum TResult { grEntered, grFull, grAbandoned };

  TThumbnailGate(int slots, int queueLimit);

  /// Enters the gate, waiting in line while every slot is taken: grEntered (call Leave() after
  /// the work), grFull at once when the line is full, grAbandoned as soon as abandoned() (asked
  /// every pollMs while waiting, on the waiting thread) says the work is no longer wanted.
  TResult Enter(const std::function<bool()>& abandoned, int pollMs = 100);
  /// Gives back the slot taken by a grEntered Enter().
  void Leave();

  /// The decodes under way and the requests waiting, as of now.
  int Running() const;
  int Waiting() const;

private:
  const int FSlots;
  const int FQueueLimit;
  mutable platform::TLock FLock;
  std::condition_variable FFreed;
  int FRunning GUARDED_BY(FLock) = 0;
  int FWaiting GUARDED_BY(FLock) = 0;
};

/// Holds a slot of a gate from a grEntered Enter() to the end of its scope.
class TGateSlot {
public:
  explicit TGateSlot(TThumbnailGate& gate) : FGate(gate) {}
  ~TGateSlot() { FGate.Leave(); }
  TGateSlot(const TGateSlot&) = delete;
  TGateSlot& operator=(const TGateSlot&) = delete;

private:
  TThumbnailGate& FGate;
};
