#include "http/io/IdIOHandlerSocket.h"

#include "http/net/IdException.h"

namespace {

// A socket that fails with 10035 instead of waiting, while it lives.
class TNonBlockingScope {
public:
  explicit TNonBlockingScope(TIdStackSocketHandle socket) : FSocket(socket) {
    GStack()->CheckSocketResult(GStack()->SockSetBlocking(FSocket, false));
  }
  ~TNonBlockingScope() { GStack()->SockSetBlocking(FSocket, true); }
  TNonBlockingScope(const TNonBlockingScope&) = delete;
  TNonBlockingScope& operator=(const TNonBlockingScope&) = delete;

private:
  TIdStackSocketHandle FSocket;
};

}  // namespace

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

std::int64_t TIdIOHandlerSocket::TransmitFile(int fileHandle, std::int64_t offset, std::size_t count) {
  if (!Connected()) throw EIdClosedSocket();
  // A waiting sendfile(2) waits afresh for every piece it passes on, so no send timeout of the
  // socket bounds it: the caller waits instead, with its own limits.
  const TNonBlockingScope nonBlocking(FEndpoint->Handle());
  return GStack()->SockSendFile(FEndpoint->Handle(), fileHandle, offset, count);
}

void TIdIOHandlerSocket::WaitWritable(int ms) {
  if (Connected()) GStack()->SockWaitWritable(FEndpoint->Handle(), ms);
}
