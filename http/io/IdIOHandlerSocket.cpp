#include "http/io/IdIOHandlerSocket.h"

#include "http/net/IdException.h"

void TIdIOHandlerSocket::Close() {
  if (FEndpoint) FEndpoint->CloseSocketHandle();
}

bool TIdIOHandlerSocket::Connected() const { return FEndpoint && FEndpoint->Allocated(); }

void TIdIOHandlerSocket::Open() {
  if (FEndpoint) {
    FEndpoint->Reset();
  } else {
    FEndpoint = std::make_unique<TIdSocketHandle>();
  }
}

bool TIdIOHandlerSocket::Readable(int ms) { return FEndpoint && FEndpoint->WaitReadable(ms); }

std::int64_t TIdIOHandlerSocket::Recv(void* buffer, std::size_t length) {
  if (!Connected()) throw EIdClosedSocket();
  return FEndpoint->Recv(buffer, length);
}

std::int64_t TIdIOHandlerSocket::TryRecv(void* buffer, std::size_t length) {
  if (!Connected()) throw EIdConnClosedGracefully();
  return FEndpoint->Recv(buffer, length, false);
}

void TIdIOHandlerSocket::ShutdownSend() {
  if (FEndpoint) FEndpoint->ShutdownSend();
}

std::int64_t TIdIOHandlerSocket::Send(const void* buffer, std::size_t length) {
  if (!Connected()) throw EIdClosedSocket();
  return FEndpoint->Send(buffer, length);
}
