#pragma once
// The TCP server: listening sockets opened by setting Active, a listener thread per binding and a
// thread per client connection.

#include "http/io/IdReply.h"
#include "http/net/IdComponent.h"
#include "http/net/IdSocketHandle.h"
#include "http/server/IdThreadHost.h"
#include "http/server/IdThreadList.h"
#include "http/server/IdThreadMgr.h"
#include "platform/Lock.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class TIdServerIOHandler;
class TIdTCPServerConnection;

enum TIdReuseSocket { rsOSDependent, rsTrue, rsFalse };

using TIdServerThreadEvent = std::function<void(TIdPeerThread& thread)>;
using TIdServerThreadExceptionEvent = std::function<void(TIdPeerThread& thread, const std::exception& error)>;
using TIdListenExceptionEvent = std::function<void(TIdListenerThread& thread, const std::exception& error)>;

/// A TCP server. Active is set from one thread (the main thread) only; the listener and the
/// connection threads read the server's settings, which must not change while it is active, and
/// reach the server only through IIdThreadHost. Serving a connection is HandleExecute(), which
/// fires OnExecute; a descendant may replace it (the HTTP server runs its request cycle there)
/// and must then stop the server in its own destructor, because connection threads call the step
/// until they end. Owns its bindings, an implicitly created thread manager and server I/O handler.
class TIdTCPServer : public TIdComponent, public IIdThreadHost {
public:
  TIdTCPServer();
  /// Stops the server; waits until every connection thread has left, however long that takes,
  /// because they use this object.
  ~TIdTCPServer() override;

  bool Active() const { return FActive; }
  /// true: binds and listens on every binding (one on every local address at DefaultPort when
  /// none is configured: IPv6 and IPv4 on one socket, IPv4 alone where the machine has no IPv6)
  /// and starts a listener per binding. Throws EIdCouldNotBindSocket when an address is in use,
  /// EIdInvalidSocket, EIdSocketError; Active then stays false.
  /// false: stops the listeners, closes every connection and waits up to TerminateWaitTime
  /// for the connection threads, in 250 ms checks; throws EIdTerminateThreadTimeout when some
  /// remain (Active then stays true, and a later call waits again).
  /// Setting the value the server already has does nothing. Main thread only.
  virtual void SetActive(bool value);

  TIdSocketHandles& Bindings() { return FBindings; }
  int DefaultPort() const { return FBindings.DefaultPort; }
  /// Takes effect at the next activation.
  void SetDefaultPort(int port) { FBindings.DefaultPort = port; }

  /// The thread manager; an implicit TIdThreadMgrDefault exists from the first activation.
  TIdThreadMgr* ThreadMgr() const { return FThreadMgr; }
  /// A manager owned by the caller, which must outlive every connection thread.
  void SetThreadMgr(TIdThreadMgr* manager);
  TIdServerIOHandler* IOHandler() const { return FIOHandler; }
  /// A server I/O handler owned by the caller; none = a TIdServerIOHandlerSocket at activation.
  void SetIOHandler(TIdServerIOHandler* handler);
  /// The connection threads running now. Any thread.
  std::size_t PeerThreadCount() const { return FPeerThreads.Count(); }
  /// The connections waiting for a next request (see EnterIdle). Any thread.
  std::size_t IdleConnectionCount() const EXCLUDES(FSlotsLock);

  // --- the steps of the threads (IIdThreadHost)
  std::unique_ptr<TIdIOHandlerSocket> AcceptClient(TIdStackSocketHandle listeningSocket,
                                                   TIdThread& listener) override;
  /// Turns the client away with MaxConnectionReply when MaxConnections threads run, or
  /// MaxConnectionsPerAddress of them serve the same client address, and no idle connection
  /// (see EnterIdle) can be closed to make room; otherwise gives it a started connection thread.
  void AdmitClient(std::unique_ptr<TIdIOHandlerSocket> handler) override;
  /// Writes Greeting when it has a code or text, then fires OnConnect.
  void HandleConnect(TIdPeerThread& thread) override;
  /// Serves the connection once; returns whether anything handled it (OnExecute assigned).
  bool HandleExecute(TIdPeerThread& thread) override;
  /// Fires OnDisconnect.
  void HandleDisconnect(TIdPeerThread& thread) override;
  void DoException(TIdPeerThread& thread, const std::exception& error) override;
  void DoListenException(TIdListenerThread& thread, const std::exception& error) override;
  /// The thread manager retires the thread, which then leaves the running threads.
  void RetireThread(TIdPeerThread& thread) override;

  // Connections the system holds until they are accepted. 15 would drop attempts in bursts,
  // each then waiting a second for its retry; the system caps it at net.core.somaxconn.
  int ListenQueue = 511;
  int MaxConnections = 0;            // 0 = no limit
  int MaxConnectionsPerAddress = 0;  // connections from one client address (an IPv6 /64); 0 = no limit
  TIdReply MaxConnectionReply;       // written to a client turned away by either limit
  TIdReply Greeting;
  int TerminateWaitTime = 5000;  // ms
  TIdReuseSocket ReuseSocket = rsOSDependent;  // reuse-address option unless rsFalse
  TIdPeerThreadClass PeerThreadClass;  // TIdPeerThread by default

  TIdServerThreadEvent OnConnect;
  TIdServerThreadEvent OnExecute;
  TIdServerThreadEvent OnDisconnect;
  TIdServerThreadExceptionEvent OnException;
  TIdListenExceptionEvent OnListenException;

protected:
  virtual void InitCommandHandlers() {}
  /// The thread's connection waits for a next request: when a connection limit is reached, the
  /// connection that has waited longest (from the same address, for the per-address limit) is
  /// closed, and its slot goes to the newcomer at once. Connection thread, before its wait.
  void EnterIdle(TIdPeerThread& thread) EXCLUDES(FSlotsLock);
  /// Ends the wait; false when the connection was closed to make room meanwhile, and must not
  /// be served any more. Connection thread, after its wait, also when the wait failed.
  bool LeaveIdle(TIdPeerThread& thread) EXCLUDES(FSlotsLock);

private:
  void Activate();
  void Deactivate();
  void StopListeners() EXCLUDES(FListenersLock);
  void CloseConnections();
  bool WaitForPeerThreads(int checks);
  void RemoveDefaultBinding();
  // Counts a new connection from address against the limits; false when one is reached.
  bool TakeConnectionSlot(const std::string& address) EXCLUDES(FSlotsLock);
  // Gives back the slot of a thread that ends, unless it went with a reclaimed connection.
  void ReleaseConnectionSlot(TIdPeerThread& thread) EXCLUDES(FSlotsLock);
  // Slots are counted by client key: an IPv4 address, or an IPv6 client's /64.
  void ReleaseSlotOf(const std::string& key) REQUIRES(FSlotsLock);
  // Closes the connection that has waited longest for a next request (from the client key,
  // unless it is none) and gives back its slot; false when none waits.
  bool ReclaimIdleConnection(const std::string* key) REQUIRES(FSlotsLock);
  // Starts a thread for an admitted connection; the slot is released when that fails.
  void StartPeerThread(std::unique_ptr<TIdTCPServerConnection> connection);

  bool FActive = false;
  bool FCommandHandlersInitialized = false;
  TIdSocketHandles FBindings;
  TIdSocketHandle* FDefaultBinding = nullptr;  // added by the running activation
  TIdThreadMgr* FThreadMgr = nullptr;
  std::unique_ptr<TIdThreadMgr> FImplicitThreadMgr;
  TIdServerIOHandler* FIOHandler = nullptr;
  std::unique_ptr<TIdServerIOHandler> FImplicitIOHandler;
  TIdThreadList<TIdPeerThread> FPeerThreads;  // the running connection threads
  platform::TLock FListenersLock;
  std::vector<std::unique_ptr<TIdListenerThread>> FListeners GUARDED_BY(FListenersLock);
  // The connections counted against the limits, in total and by client address; a thread
  // leaves them before it leaves FPeerThreads.
  mutable platform::TLock FSlotsLock;
  int FSlotCount GUARDED_BY(FSlotsLock) = 0;
  std::unordered_map<std::string, int> FSlotsByAddress GUARDED_BY(FSlotsLock);
  std::vector<TIdPeerThread*> FIdle GUARDED_BY(FSlotsLock);  // waiting for a next request, longest first
  // Closed to make room, their slots already given back, until their threads retire.
  std::unordered_set<TIdPeerThread*> FReclaimed GUARDED_BY(FSlotsLock);
};
