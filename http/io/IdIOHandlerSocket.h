#pragma once
// The I/O handler over one socket.

#include "http/io/IdIOHandler.h"
#include "http/net/IdSocketHandle.h"

#include <memory>

/// Reads and writes through the socket handle it owns (Endpoint, created by Open()).
class TIdIOHandlerSocket : public TIdIOHandler {
public:
  void Close() override;
  bool Connected() const override;
  /// Resets Endpoint to a fresh, unallocated handle, creating it the first time.
  void Open() override;
  bool Readable(int ms) override;
  std::int64_t Recv(void* buffer, std::size_t length) override;
  std::int64_t TryRecv(void* buffer, std::size_t length) override;
  std::int64_t Send(const void* buffer, std::size_t length) override;
  void ShutdownSend() override;
  bool CanTransmitFile() const override { return Connected(); }
  /// sendfile(2) on a socket made non-blocking for the call.
  std::int64_t TransmitFile(int fileHandle, std::int64_t offset, std::size_t count) override;
  void WaitWritable(int ms) override;

  TIdSocketHandle* Endpoint() const { return FEndpoint.get(); }

  bool UseNagle = true;  // client connections only

private:
  std::unique_ptr<TIdSocketHandle> FEndpoint;
};
