#pragma once
// Accepting clients on plain sockets.

#include "http/server/IdServerIOHandler.h"

class TIdServerIOHandlerSocket : public TIdServerIOHandler {
public:
  /// With a listener: polls the listening socket every 100 ms and gives none once the listener
  /// is stopped. Gives none when the listening socket was closed (10004, 10038); other accept
  /// failures throw EIdSocketError. Listener thread.
  std::unique_ptr<TIdIOHandlerSocket> AcceptClient(TIdStackSocketHandle listeningSocket,
                                                   TIdThread* listener) override;

protected:
  /// The handler each accepted client gets, before its socket is accepted into it.
  virtual std::unique_ptr<TIdIOHandlerSocket> NewClientHandler();
};
