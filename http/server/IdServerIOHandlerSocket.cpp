#include "http/server/IdServerIOHandlerSocket.h"

#include "http/net/IdStack.h"
#include "http/server/IdThread.h"

#include <cstdint>

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
  // Answers are held in the socket until they are whole, then released. Under Nagle's rule a
  // released tail would still wait for the client to acknowledge what went before, and a client
  // waiting for the rest of an answer (or for the answers to its pipelined requests) delays that
  // acknowledgement by up to 40 ms.
  const std::int32_t on = 1;
  // A failure only costs time, so it is not reported.
  GStack()->SockSetOption(handler->Endpoint()->Handle(), Id_IPPROTO_TCP, Id_TCP_NODELAY, &on, sizeof on);
  return handler;
}

std::unique_ptr<TIdIOHandlerSocket> TIdServerIOHandlerSocket::NewClientHandler() {
  return std::make_unique<TIdIOHandlerSocket>();
}
