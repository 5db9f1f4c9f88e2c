#pragma once
// Creates the connection threads of a server and retires them when they end.

#include "http/server/IdThreadList.h"

#include <functional>
#include <memory>

class TIdPeerThread;

/// Makes a new, suspended connection thread.
using TIdPeerThreadClass = std::function<std::unique_ptr<TIdPeerThread>()>;

/// Hands out connection threads and keeps the ones not yet retired in LiveThreads.
/// AcquireThread: listener thread; RetireThread: any thread.
class TIdThreadMgr {
public:
  virtual ~TIdThreadMgr() = default;

  /// A new suspended thread of PeerThreadClass. Throws EIdThreadClassNotSpecified without one.
  virtual std::unique_ptr<TIdPeerThread> NewPeerThread();
  /// A new thread, recorded in LiveThreads. The caller owns it until it is started.
  virtual std::unique_ptr<TIdPeerThread> AcquireThread() = 0;
  /// Ends a thread (or keeps it for another connection) and removes it from LiveThreads.
  virtual void RetireThread(TIdPeerThread& thread) = 0;
  /// Ends every thread the manager keeps without a connection. The server calls it once its
  /// connection threads have all left, when it stops; a manager that keeps none does nothing.
  virtual void TerminateThreads() {}

  TIdThreadList<TIdPeerThread>& LiveThreads() { return FLiveThreads; }

  TIdPeerThreadClass PeerThreadClass;  // set by the server at activation

private:
  TIdThreadList<TIdPeerThread> FLiveThreads;
};
