#pragma once
// The thread that serves one client connection.

#include "http/server/IdTCPServerConnection.h"
#include "http/server/IdThread.h"

#include <memory>

/// Serves one connection: the server's HandleConnect, then HandleExecute again and again while
/// the connection stays open, then HandleDisconnect. Owns its connection. When its run ends it
/// hands itself to the server's RetireThread, frees the connection and, once its function
/// returns, its own object; from then on it never touches the server again.
class TIdPeerThread : public TIdThread {
public:
  ~TIdPeerThread() override;

  /// The connection served; none once the run has ended. Connection thread, or another thread
  /// while this thread is among the server's running threads and their list's lock is held.
  TIdTCPServerConnection* Connection() const { return FConnection.get(); }
  /// Given by the listener before the thread starts.
  void SetConnection(std::unique_ptr<TIdTCPServerConnection> connection) { FConnection = std::move(connection); }

protected:
  void PrepareRun() override;
  /// Socket errors, a closed socket and a graceful close go to the server's OnException and end
  /// the run once the connection is closed; any other exception also ends the thread.
  void RunStep() override;
  void FinishRun() override;
  void CleanupRun() override;

private:
  std::unique_ptr<TIdTCPServerConnection> FConnection;
};
