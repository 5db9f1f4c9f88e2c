#pragma once
// The thread manager that keeps finished connection threads and gives them the next connections.

#include "http/server/IdThreadMgr.h"
#include "platform/Lock.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

/// Hands out a kept thread when it has one, else a new one. A thread whose connection has ended
/// comes back once its run is over (its connection freed) and waits for the next; beyond
/// PoolSize waiting threads it ends instead. Starting and ending a thread costs about as much as
/// serving a small file: a kept one spares both. Its threads run in smSuspend mode.
/// When the last running connection ends, a thread of its own calls onQuiet (by default: the
/// memory a burst of connections left free goes back to the system), but at most once in
/// QuietTime: under load quiet moments come many times a second, and the pages given back would
/// be faulted in again at once. Quiet moments within QuietTime of a call make one call at its
/// end, if still quiet.
/// AcquireThread: listener thread; RetireThread: the retiring thread; TerminateThreads and the
/// destructor: the thread that stops the server, once no connection thread runs.
class TIdThreadMgrPool : public TIdThreadMgr {
public:
  static constexpr std::size_t DefaultPoolSize = 64;
  static constexpr std::chrono::milliseconds DefaultQuietTime{1000};

  explicit TIdThreadMgrPool(std::size_t poolSize = DefaultPoolSize,
                            std::chrono::milliseconds quietTime = DefaultQuietTime,
                            std::function<void()> onQuiet = DefaultOnQuiet);
  /// Ends the waiting threads. No connection thread of the manager may run any more.
  ~TIdThreadMgrPool() override;

  std::unique_ptr<TIdPeerThread> AcquireThread() override;
  /// From the thread itself: it comes back to wait once its run is over.
  void RetireThread(TIdPeerThread& thread) override;
  /// Waits for the threads still coming back, then ends every waiting thread.
  void TerminateThreads() override;

  /// Threads waiting for a connection now. Any thread.
  std::size_t IdleCount() const;

  const std::size_t PoolSize;  // the most threads kept waiting
  const std::chrono::milliseconds QuietTime;

private:
  static void DefaultOnQuiet();
  // On the thread itself once its run is over: it waits, or ends when enough wait already.
  void TakeBack(TIdPeerThread& thread) EXCLUDES(FLock);
  bool IsQuiet() REQUIRES(FLock);
  // The watcher thread: calls FOnQuiet for quiet moments, at most once in QuietTime.
  void WatchQuiet() EXCLUDES(FLock);

  const std::function<void()> FOnQuiet;
  mutable platform::TLock FLock;
  std::condition_variable FCameBack;
  std::condition_variable FQuietBegan;
  std::vector<std::unique_ptr<TIdPeerThread>> FIdle GUARDED_BY(FLock);  // owned while waiting
  int FComingBack GUARDED_BY(FLock) = 0;      // retired, not yet taken back
  bool FQuietSeen GUARDED_BY(FLock) = false;  // the last run ended, not yet handled
  bool FEnding GUARDED_BY(FLock) = false;
  std::thread FQuietWatcher;       // last: it uses everything above
};
