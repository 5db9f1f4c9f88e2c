#pragma once
// The I/O handler of a port that speaks TLS: it looks at a connection's first byte, serves a TLS
// client through a TLS session and a plain one as a plain socket does.

#include "http/io/IdIOHandlerSocket.h"

#include <chrono>
#include <memory>

class TIdSSLContext;
struct ssl_st;

/// A socket whose first byte decides its transport: a TLS handshake record (0x16) makes it a TLS
/// session of Context, anything else leaves it plain (Transport() PlainOnSecurePort). The look
/// and the handshake happen within the first reads, so the caller's read deadline covers them;
/// the handshake must also end within HandshakeLimitMs of the accept, or the connection reads
/// as closed. The socket is non-blocking while it carries TLS, and every wait is a poll, which a
/// Close() from another thread ends at once. A file goes out through SSL_sendfile where the
/// kernel does the encryption, else read and encrypted in large blocks, whose records leave the
/// process in one write a block, as do those of any other large write. Used by the connection's
/// thread; Close() may also come from another, as for the plain handler.
class TIdSSLIOHandlerSocket : public TIdIOHandlerSocket {
public:
  explicit TIdSSLIOHandlerSocket(std::shared_ptr<const TIdSSLContext> context, int handshakeLimitMs = 10000);
  ~TIdSSLIOHandlerSocket() override;

  void AfterAccept() override;
  void Open() override;
  /// Also takes the look at the first byte and the handshake forward, within ms.
  bool Readable(int ms) override;
  std::int64_t Recv(void* buffer, std::size_t length) override;
  std::int64_t TryRecv(void* buffer, std::size_t length) override;
  /// Over TLS: waits for room as long as the socket's send timeout allows (no limit without
  /// one), then fails with 10035, as a blocking socket does.
  std::int64_t Send(const void* buffer, std::size_t length) override;
  /// Over TLS, the close_notify alert goes first.
  void ShutdownSend() override;
  bool CanTransmitFile() const override;
  std::int64_t TransmitFile(int fileHandle, std::int64_t offset, std::size_t count) override;
  void WaitWritable(int ms) override;
  TIdTransport Transport() const override;

  /// The ALPN protocol agreed on, empty when none.
  std::string Protocol() const;

private:
  enum class TState { Unseen, Plain, Handshake, Secure, Failed };
  using TClock = std::chrono::steady_clock;

  // Takes the look and the handshake as far as they go within ms; true once the transport is
  // known (the session may have failed), false when ms passed first.
  bool Settle(int ms);
  // One step of reading or writing failed with code: waits within ms for what the session needs
  // (false when ms passed), or marks the session failed for any other code.
  bool AwaitSession(int code, int ms);
  // Records the outcome of a session call that moved nothing as the socket error a caller
  // expects (10035 when it must wait); returns what a plain socket's call would return then (0
  // for an orderly end, -1 for the rest).
  std::int64_t ReportFailure(int code);
  int SocketSendTimeout() const;
  // How long a send may wait for room: the socket's send timeout, asked for only when a send
  // must wait or goes out in blocks.
  int SendWaitMs() const;
  // Encrypts up to one block of data into records collected in front of the socket, then writes
  // them out together: one write, and one wake-up of the client, for many records. Returns the
  // bytes of data whose records have all reached the socket, or -1 with 10035 once ms passed
  // without room for them: the next call, with the same data, goes on with what is left.
  std::int64_t SendRecords(const char* data, std::size_t length, int ms);
  // Puts the collecting buffer in front of the socket, or takes it away. It stays through an
  // answer's writes, made once for them all, and goes when the connection reads again: a kept
  // connection waiting for its next request holds no buffer.
  void CollectRecords(bool on);
  // Takes the buffer away unless records wait in it.
  void EndCollecting();

  std::shared_ptr<const TIdSSLContext> FContext;
  int FHandshakeLimitMs;
  std::unique_ptr<ssl_st, void (*)(ssl_st*)> FSession;
  TState FState = TState::Unseen;
  TClock::time_point FHandshakeEnd = TClock::time_point::max();
  bool FKernelSends = false;  // the kernel encrypts what is sent: files go by SSL_sendfile
  std::unique_ptr<char[]> FFileBlock;  // file blocks read for encryption, made on first use
  int FBlockFile = -1;                 // the file, offset and size of the block it holds
  std::int64_t FBlockOffset = 0;
  std::int64_t FBlockSize = 0;
  bool FCollecting = false;     // records go to a buffer before the socket: every write then
                                // goes by SendRecords, and is flushed
  std::size_t FUnflushed = 0;   // bytes of data encrypted whose records are not all sent yet
};
