#pragma once
// The abstract reading and writing strategy under a connection.

#include "http/net/IdComponent.h"

#include <cstddef>
#include <cstdint>

/// What a connection's transport is: a plain socket, a TLS session, or plain bytes on a port
/// that speaks TLS (a client that should be sent to the secure address).
enum class TIdTransport { Plain, Secure, PlainOnSecurePort };

/// Moves bytes between a connection and its transport. Used by the connection's thread; Close()
/// may also come from another thread, under the connection's lock.
class TIdIOHandler : public TIdComponent {
public:
  /// Called once a server has accepted the transport.
  virtual void AfterAccept() {}
  /// Closes the transport. Any thread.
  virtual void Close() = 0;
  virtual bool Connected() const = 0;
  /// Prepares the handler for a new transport.
  virtual void Open() = 0;
  /// Whether data (or a close) can be read within ms (-2 = no limit).
  virtual bool Readable(int ms) = 0;
  /// Bytes received, 0 when the peer closed, -1 on error. Throws EIdClosedSocket when not
  /// connected.
  virtual std::int64_t Recv(void* buffer, std::size_t length) = 0;
  /// Takes only what has arrived, without waiting: as Recv, but -1 with the error 10035 when
  /// nothing has. Throws EIdConnClosedGracefully when not connected, as a wait on a closed
  /// transport does.
  virtual std::int64_t TryRecv(void* buffer, std::size_t length) = 0;
  /// No more sending: the peer reads the end of the stream after what was sent, and this end can
  /// still receive. Nothing when not connected.
  virtual void ShutdownSend() = 0;
  /// Bytes sent or -1. Throws EIdClosedSocket when not connected.
  virtual std::int64_t Send(const void* buffer, std::size_t length) = 0;

  /// Whether TransmitFile() can send a file now.
  virtual bool CanTransmitFile() const { return false; }
  /// Hands up to count bytes of the open file fileHandle from offset to the transport without
  /// waiting. Returns the bytes taken, 0 when the file ends at offset, -1 on error (10035 when
  /// there is no room now; WaitWritable() then waits for it).
  virtual std::int64_t TransmitFile(int fileHandle, std::int64_t offset, std::size_t count) {
    (void)fileHandle, (void)offset, (void)count;
    return -1;
  }
  /// Waits up to ms (-2 = no limit) until the transport can take more bytes, or has failed.
  virtual void WaitWritable(int ms) { (void)ms; }
  /// Known once the first bytes have been read; Plain until then.
  virtual TIdTransport Transport() const { return TIdTransport::Plain; }
};
