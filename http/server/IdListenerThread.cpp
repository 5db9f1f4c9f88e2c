#include "http/server/IdListenerThread.h"

#include "http/server/IdPeerThread.h"
#include "http/server/IdServerIOHandler.h"
#include "http/net/IdSocketHandle.h"
#include "http/server/IdTCPServer.h"
#include "http/server/IdThreadMgr.h"

TIdListenerThread::~TIdListenerThread() {
  if (!IsCurrentThread()) TerminateAndWaitFor();
}

void TIdListenerThread::RunStep() {
  std::unique_ptr<TIdPeerThread> peer;
  try {
    for (;;) {
      auto connection = std::make_unique<TIdTCPServerConnection>(&FServer);
      std::unique_ptr<TIdIOHandlerSocket> handler = FServer.IOHandler()->AcceptClient(FBinding.Handle(), this);
      if (!handler) {
        StopThread();
        return;
      }
      peer = FServer.ThreadMgr()->AcquireThread();
      connection->SetIOHandler(std::move(handler));
      peer->SetConnection(std::move(connection));
      if (FServer.MaxConnections > 0 && FServer.PeerThreads().Count() >= static_cast<std::size_t>(FServer.MaxConnections)) {
        FServer.ThreadMgr()->LiveThreads().Remove(peer.get());
        peer->Connection()->WriteReply(FServer.MaxConnectionReply);
        peer->Connection()->CloseConnection();
        peer.reset();
        continue;
      }
      FServer.PeerThreads().Add(peer.get());
      try {
        peer->StartThread();
      } catch (...) {
        FServer.PeerThreads().Remove(peer.get());
        throw;
      }
      peer.release();  // the started thread frees itself
      return;
    }
  } catch (const std::exception& error) {
    if (peer) FServer.ThreadMgr()->LiveThreads().Remove(peer.get());
    peer.reset();
    FServer.DoListenException(*this, error);
  }
}

void TIdListenerThread::FinishRun() {
  TIdThread::FinishRun();
  FBinding.CloseSocketHandle();
  FBinding.Reset(false);
}
