#pragma once
// The thread that accepts the clients of one binding.

#include "http/server/IdThread.h"

class IIdThreadHost;
class TIdSocketHandle;

/// Accepts clients on Binding (not owned) and hands each to Server (not owned), which gives it a
/// connection thread. Freed by the server after it has waited for it.
class TIdListenerThread : public TIdThread {
public:
  TIdListenerThread(IIdThreadHost& server, TIdSocketHandle& binding) : FServer(server), FBinding(binding) {}
  ~TIdListenerThread() override;

  TIdSocketHandle& Binding() const { return FBinding; }

  /// How long the listener rests after an accept failed for want of descriptors or memory: at
  /// once again, the same accept would fail again, and the listener would take a whole core.
  static constexpr int OutOfResourcesPauseMs = 100;

protected:
  /// Accepts one client; stops this listener when the binding's socket is closed. Failures go
  /// to the server's OnListenException and the listener goes on.
  void RunStep() override;
  /// Closes the binding's socket (nothing when it is closed already).
  void FinishRun() override;

private:
  IIdThreadHost& FServer;
  TIdSocketHandle& FBinding;
};
