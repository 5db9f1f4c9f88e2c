#include "http/IdThreadMgr.h"

#include "http/IdException.h"
#include "http/IdPeerThread.h"

std::unique_ptr<TIdPeerThread> TIdThreadMgr::NewPeerThread() {
  if (!PeerThreadClass) throw EIdThreadClassNotSpecified();
  return PeerThreadClass();
}
