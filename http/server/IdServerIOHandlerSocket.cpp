#include "http/server/IdServerIOHandlerSocket.h"

#include "http/server/IdThread.h"

namespace {
constexpr int kAcceptPollMs = 100;  // how soon a stopped listener notices
}

std::unique_ptr<TIdIOHandlerSocket> TIdServerIOHandlerSocket::AcceptClient(TIdStackSocketHandle listeningSocket,
                                                                          TIdThread* listener) {
  auto handler = std::make_unique<TIdIOHandlerSocket>();
  handler->Open();
  if (listener != nullptr) {
    do {
      if (listener->IsStopped()) return nullptr;
    } while (!TIdSocketHandle::WaitOtherReadable(listeningSocket, kAcceptPollMs));
  }
  if (!handler->Endpoint()->AcceptFrom(listeningSocket)) return nullptr;
  return handler;
}
