#pragma once
// What a server's listener and connection threads may ask of their server: all they know of it.

#include "http/net/IdStack.h"

#include <exception>
#include <memory>

class TIdIOHandlerSocket;
class TIdListenerThread;
class TIdPeerThread;
class TIdThread;

/// The server as its own threads see it. The server implements it and outlives every thread
/// that holds it; each operation belongs to the thread named with it.
class IIdThreadHost {
public:
  virtual ~IIdThreadHost() = default;

  // --- listener thread
  /// The next client of listeningSocket, as a connected handler; none once listener is stopped
  /// or the socket closed. Throws EIdSocketError when accept fails otherwise.
  virtual std::unique_ptr<TIdIOHandlerSocket> AcceptClient(TIdStackSocketHandle listeningSocket,
                                                           TIdThread& listener) = 0;
  /// Gives an accepted client a started connection thread, or turns it away at once when a
  /// connection limit is reached.
  virtual void AdmitClient(std::unique_ptr<TIdIOHandlerSocket> handler) = 0;
  virtual void DoListenException(TIdListenerThread& thread, const std::exception& error) = 0;

  // --- connection thread
  /// Before the first HandleExecute.
  virtual void HandleConnect(TIdPeerThread& thread) = 0;
  /// Serves the connection once; false when nothing is there to serve it.
  virtual bool HandleExecute(TIdPeerThread& thread) = 0;
  /// After the last HandleExecute.
  virtual void HandleDisconnect(TIdPeerThread& thread) = 0;
  virtual void DoException(TIdPeerThread& thread, const std::exception& error) = 0;
  /// The thread's run has ended: it leaves the server, which never touches it again.
  virtual void RetireThread(TIdPeerThread& thread) = 0;
};
