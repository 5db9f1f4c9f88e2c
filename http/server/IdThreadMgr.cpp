#include "http/server/IdThreadMgr.h"

#include "http/net/IdException.h"
#include "http/server/IdPeerThread.h"

std::unique_ptr<TIdPeerThread> TIdThreadMgr::NewPeerThread() {
  if (!PeerThreadClass) throw EIdThreadClassNotSpecified();
  return PeerThreadClass();
}
