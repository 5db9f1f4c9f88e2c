#pragma once
// The accept strategy of a server.

#include "http/net/IdComponent.h"
#include "http/io/IdIOHandlerSocket.h"
#include "http/net/IdStack.h"

#include <memory>

class TIdThread;

/// Accepts clients for a server. Used by the listener threads once activation has set it up.
class TIdServerIOHandler : public TIdComponent {
public:
  /// Called once at every activation, before any listener starts.
  virtual void Init() {}
  /// A new connected handler for the next client of listeningSocket, or none (the base class
  /// always gives none).
  virtual std::unique_ptr<TIdIOHandlerSocket> AcceptClient(TIdStackSocketHandle listeningSocket,
                                                           TIdThread* listener) {
    (void)listeningSocket;
    (void)listener;
    return nullptr;
  }
};
