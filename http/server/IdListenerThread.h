#pragma once
// The thread that accepts the clients of one binding.

#include "http/server/IdThread.h"

class TIdSocketHandle;
class TIdTCPServer;

/// Accepts clients on Binding (not owned) and gives each one a started connection thread of
/// Server (not owned). Freed by the server after it has waited for it.
class TIdListenerThread : public TIdThread {
public:
  TIdListenerThread(TIdTCPServer& server, TIdSocketHandle& binding) : FServer(server), FBinding(binding) {}
  ~TIdListenerThread() override;

  TIdSocketHandle& Binding() const { return FBinding; }

protected:
  /// Accepts one client; stops this listener when the binding's socket is closed. Failures go
  /// to the server's OnListenException and the listener goes on.
  void RunStep() override;
  /// Closes the binding's socket (nothing when it is closed already).
  void FinishRun() override;

private:
  TIdTCPServer& FServer;
  TIdSocketHandle& FBinding;
};
