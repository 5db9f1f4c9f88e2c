#include "http/server/IdServerIOHandlerSocket.h"

#include "http/server/IdThread.h"

namespace {
constexpr int kAcceptPollMs = 100;  // how soon a stopped listener notices
}

std::unique_ptr<TIdIOHandlerSocket> TIdServerIOHandlerSocket::AcceptClient(TIdStackSocketHandle listeningSocket,
                                                                          TIdThread* listener) {
  std::unique_ptr<TIdIOHandlerSocket> handler = NewClientHandler();
  handler->Open();
  if (listener != nullptr) {
    do {
      if (listener->IsStopped()) return nullptr;
    } while (!TIdSocketHandle::WaitOtherReadable(listeningSocket, kAcceptPollMs));
  }
  if (!handler->Endpoint()->AcceptFrom(listeningSocket)) return nullptr;
  return handler;
}

std::unique_ptr<TIdIOHandlerSocket> TIdServerIOHandlerSocket::NewClientHandler() {
  return std::make_unique<TIdIOHandlerSocket>();
}
