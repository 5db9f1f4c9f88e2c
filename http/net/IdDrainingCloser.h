#pragma once
// Closing sockets gracefully without a thread of their own: what the peer still sends is read
// and dropped until it closes too, and only then is the socket closed.

#include "http/net/IdStack.h"
#include "platform/Lock.h"

#include <chrono>
#include <cstddef>
#include <list>
#include <thread>
#include <unordered_map>

/// Takes sockets whose sending side is shut down and closes each once its peer has closed as
/// well, has sent MaxBytes more, or DrainTime has passed, dropping whatever the peer sends
/// meanwhile: a close with unread input resets the connection, and the reset can cost the peer
/// the end of what it was sent. One thread waits for them all, so that a connection's own
/// thread is free as soon as its answer is out, and a peer that never closes holds a descriptor
/// for DrainTime, not a thread. At most MaxSockets wait at once: beyond them, the one that has
/// waited longest is closed. Uses the socket stack, so a TIdComponent must outlive it.
class TIdDrainingCloser {
public:
  static constexpr std::size_t DefaultMaxSockets = 4096;

  /// Throws EIdSocketError when the system has no descriptors or memory for the wait.
  TIdDrainingCloser(std::chrono::milliseconds drainTime, std::size_t maxBytes,
                    std::size_t maxSockets = DefaultMaxSockets);
  /// Closes every socket still waiting, at once.
  ~TIdDrainingCloser();
  TIdDrainingCloser(const TIdDrainingCloser&) = delete;
  TIdDrainingCloser& operator=(const TIdDrainingCloser&) = delete;

  /// Takes over socket, whose sending side the caller has shut down; it is closed here. Any
  /// thread.
  void Adopt(TIdStackSocketHandle socket) EXCLUDES(FLock);
  /// The sockets waiting now. Any thread.
  std::size_t Count() const EXCLUDES(FLock);

  const std::chrono::milliseconds DrainTime;
  const std::size_t MaxBytes;
  const std::size_t MaxSockets;

private:
  using TClock = std::chrono::steady_clock;
  struct TWaiting {
    TClock::time_point Due;
    std::size_t Dropped = 0;
    std::list<TIdStackSocketHandle>::iterator InOrder;
  };

  void Run() EXCLUDES(FLock);
  // Reads and drops what has come; true once the socket is done with: its peer closed or
  // failed, or it sent MaxBytes.
  bool DrainSome(TIdStackSocketHandle socket, TWaiting& waiting) const;
  void CloseLocked(TIdStackSocketHandle socket) REQUIRES(FLock);
  // Closes the sockets whose time is over; returns the ms until the next one's, -1 for none.
  int CloseDueLocked() REQUIRES(FLock);

  int FPoll = -1;  // the epoll set of the waiting sockets
  int FWake = -1;  // an eventfd in the set that ends the wait, for the destructor
  mutable platform::TLock FLock;
  std::unordered_map<TIdStackSocketHandle, TWaiting> FWaiting GUARDED_BY(FLock);
  std::list<TIdStackSocketHandle> FOrder GUARDED_BY(FLock);  // as adopted, which is as due
  bool FEnding GUARDED_BY(FLock) = false;
  std::thread FThread;  // last: it uses everything above
};
