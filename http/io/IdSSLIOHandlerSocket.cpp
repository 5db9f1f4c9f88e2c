#include "http/io/IdSSLIOHandlerSocket.h"

#include "http/io/IdSSLContext.h"
#include "http/net/IdException.h"
#include "http/net/IdStackLinux.h"
#include "platform/ReadOnlyFile.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>
#include <utility>

namespace {

// The first byte of every TLS record that opens a handshake.
constexpr unsigned char kHandshakeRecord = 0x16;

// Files are read and encrypted in blocks of this size where the kernel does not encrypt them,
// and larger writes are encrypted a block at a time.
constexpr std::size_t kFileBlock = 256 << 10;
// The records of one block: its bytes, plus each record's header, tag and padding (at most 29
// bytes of a record of 16 KiB), with room to spare.
constexpr int kRecordBuffer = static_cast<int>(kFileBlock) + (32 << 10);
// Writes of up to one record go straight to the socket: collecting them would gain nothing.
constexpr std::size_t kOneRecord = 16 << 10;

int ToInt(std::size_t length) { return static_cast<int>(std::min<std::size_t>(length, INT_MAX)); }

bool IsWait(int code) { return code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE; }

// The milliseconds until end (Id_TIMEOUT_INFINITE for none), never below 0.
int MsUntil(std::chrono::steady_clock::time_point end) {
  if (end == std::chrono::steady_clock::time_point::max()) return Id_TIMEOUT_INFINITE;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

std::chrono::steady_clock::time_point EndAfter(int ms) {
  if (ms == Id_TIMEOUT_INFINITE) return std::chrono::steady_clock::time_point::max();
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(ms, 0));
}

}  // namespace

TIdSSLIOHandlerSocket::TIdSSLIOHandlerSocket(std::shared_ptr<const TIdSSLContext> context, int handshakeLimitMs)
    : FContext(std::move(context)), FHandshakeLimitMs(handshakeLimitMs), FSession(nullptr, SSL_free) {}

TIdSSLIOHandlerSocket::~TIdSSLIOHandlerSocket() = default;

void TIdSSLIOHandlerSocket::AfterAccept() {
  TIdIOHandlerSocket::AfterAccept();
  FHandshakeEnd = TClock::now() + std::chrono::milliseconds(FHandshakeLimitMs);
}

void TIdSSLIOHandlerSocket::Open() {
  FSession.reset();
  FState = TState::Unseen;
  FKernelSends = false;
  FCollecting = false;
  FUnflushed = 0;
  FHandshakeEnd = TClock::time_point::max();
  TIdIOHandlerSocket::Open();
}

TIdTransport TIdSSLIOHandlerSocket::Transport() const {
  switch (FState) {
    case TState::Unseen:
      return TIdTransport::Plain;
    case TState::Plain:
      return TIdTransport::PlainOnSecurePort;
    default:
      return TIdTransport::Secure;
  }
}

std::string TIdSSLIOHandlerSocket::Protocol() const {
  if (!FSession) return {};
  const unsigned char* name = nullptr;
  unsigned int length = 0;
  SSL_get0_alpn_selected(FSession.get(), &name, &length);
  return std::string(reinterpret_cast<const char*>(name), name != nullptr ? length : 0);
}

bool TIdSSLIOHandlerSocket::Settle(int ms) {
  const TClock::time_point end = EndAfter(ms);
  for (;;) {
    switch (FState) {
      case TState::Unseen: {
        if (!TIdIOHandlerSocket::Readable(MsUntil(end))) return false;
        // Looked at, not taken: a plain request stays whole in the socket for the plain reads.
        unsigned char first = 0;
        const std::int64_t n = GStack()->SockRecv(Endpoint()->Handle(), &first, 1, Id_MSG_PEEK | Id_MSG_NOWAIT);
        if (n == -1 && GStack()->LastPlatformError() == Id_WSAEWOULDBLOCK) continue;
        if (n != 1 || first != kHandshakeRecord) {
          FState = TState::Plain;
          continue;
        }
        FSession.reset(SSL_new(FContext->Handle()));
        const bool ready = FSession && SSL_set_fd(FSession.get(), Endpoint()->Handle()) == 1 &&
                           GStack()->SockSetBlocking(Endpoint()->Handle(), false) != -1;
        FState = ready ? TState::Handshake : TState::Failed;
        continue;
      }
      case TState::Handshake: {
        ERR_clear_error();
        const int result = SSL_accept(FSession.get());
        if (result == 1) {
          FState = TState::Secure;
          FKernelSends = BIO_get_ktls_send(SSL_get_wbio(FSession.get())) != 0;
          return true;
        }
        const int code = SSL_get_error(FSession.get(), result);
        const TClock::time_point waitEnd = std::min(end, FHandshakeEnd);
        if (!IsWait(code) || TClock::now() >= FHandshakeEnd) {
          FState = TState::Failed;
          return true;
        }
        if (!AwaitSession(code, MsUntil(waitEnd)) && TClock::now() >= end) return false;
        continue;
      }
      default:
        return true;
    }
  }
}

bool TIdSSLIOHandlerSocket::AwaitSession(int code, int ms) {
  const TIdStackSocketHandle socket = Endpoint()->Handle();
  if (code == SSL_ERROR_WANT_READ) return GStack()->SockWaitReadable(socket, ms) != 0;
  if (code == SSL_ERROR_WANT_WRITE) return GStack()->SockWaitWritable(socket, ms) != 0;
  FState = TState::Failed;
  return true;
}

std::int64_t TIdSSLIOHandlerSocket::ReportFailure(int code) {
  const int systemError = errno;
  if (IsWait(code)) {
    GStack()->SetLastPlatformError(Id_WSAEWOULDBLOCK);
    return -1;
  }
  ERR_clear_error();
  if (code == SSL_ERROR_ZERO_RETURN || (code == SSL_ERROR_SYSCALL && systemError == 0)) return 0;
  if (code == SSL_ERROR_SYSCALL) {
    GStack()->SetLastPlatformError(TIdStackLinux::TranslateErrno(systemError));
  } else {
    // Records that do not decrypt, or a protocol broken some other way: the session cannot go
    // on, and the connection ends as one the client dropped.
    FState = TState::Failed;
    GStack()->SetLastPlatformError(Id_WSAECONNABORTED);
  }
  return -1;
}

bool TIdSSLIOHandlerSocket::Readable(int ms) {
  if (!Connected()) return TIdIOHandlerSocket::Readable(ms);
  const TClock::time_point end = EndAfter(ms);
  if (!Settle(ms)) return false;
  if (FState == TState::Plain) return TIdIOHandlerSocket::Readable(MsUntil(end));
  if (FState != TState::Secure) return true;
  EndCollecting();
  for (;;) {
    if (SSL_pending(FSession.get()) > 0) return true;
    char byte;
    ERR_clear_error();
    const int result = SSL_peek(FSession.get(), &byte, 1);
    if (result > 0) return true;
    const int code = SSL_get_error(FSession.get(), result);
    // An end or a failure is for the next read to report.
    if (!IsWait(code)) return true;
    if (!AwaitSession(code, MsUntil(end))) return false;
  }
}

std::int64_t TIdSSLIOHandlerSocket::TryRecv(void* buffer, std::size_t length) {
  if (!Connected()) throw EIdConnClosedGracefully();
  if (!Settle(0)) {
    GStack()->SetLastPlatformError(Id_WSAEWOULDBLOCK);
    return -1;
  }
  if (FState == TState::Plain) return TIdIOHandlerSocket::TryRecv(buffer, length);
  // A failed handshake reads as a client that went away: nothing worth a report.
  if (FState != TState::Secure) return 0;
  EndCollecting();
  ERR_clear_error();
  const int result = SSL_read(FSession.get(), buffer, ToInt(length));
  if (result > 0) return result;
  return ReportFailure(SSL_get_error(FSession.get(), result));
}

std::int64_t TIdSSLIOHandlerSocket::Recv(void* buffer, std::size_t length) {
  for (;;) {
    if (!Connected()) throw EIdClosedSocket();
    if (FState == TState::Plain) return TIdIOHandlerSocket::Recv(buffer, length);
    const std::int64_t n = TryRecv(buffer, length);
    if (n != -1 || GStack()->LastPlatformError() != Id_WSAEWOULDBLOCK) return n;
    Readable(Id_TIMEOUT_INFINITE);
  }
}

int TIdSSLIOHandlerSocket::SocketSendTimeout() const {
  std::int32_t ms = 0;
  int length = sizeof ms;
  if (GStack()->SockGetOption(Endpoint()->Handle(), Id_SOL_SOCKET, Id_SO_SNDTIMEO, &ms, length) != 0) return 0;
  return ms;
}

int TIdSSLIOHandlerSocket::SendWaitMs() const {
  const int timeout = SocketSendTimeout();
  return timeout > 0 ? timeout : Id_TIMEOUT_INFINITE;
}

std::int64_t TIdSSLIOHandlerSocket::Send(const void* buffer, std::size_t length) {
  if (!Connected()) throw EIdClosedSocket();
  // Before the first read only the server's own refusal (too many connections) goes out, plain.
  if (FState == TState::Unseen || FState == TState::Plain) return TIdIOHandlerSocket::Send(buffer, length);
  if (FState != TState::Secure) {
    GStack()->SetLastPlatformError(Id_WSAECONNABORTED);
    return -1;
  }
  if (!FKernelSends && (length > kOneRecord || FCollecting)) {
    return SendRecords(static_cast<const char*>(buffer), length, SendWaitMs());
  }
  for (;;) {
    ERR_clear_error();
    const int result = SSL_write(FSession.get(), buffer, ToInt(length));
    if (result > 0) return result;
    const int code = SSL_get_error(FSession.get(), result);
    if (!IsWait(code)) return ReportFailure(code);
    if (!AwaitSession(code, SendWaitMs())) {
      GStack()->SetLastPlatformError(Id_WSAEWOULDBLOCK);
      return -1;
    }
  }
}

void TIdSSLIOHandlerSocket::ShutdownSend() {
  // One try: a client that does not read the alert still reads the end of the stream.
  if (FState == TState::Secure && Connected()) {
    ERR_clear_error();
    SSL_shutdown(FSession.get());
    ERR_clear_error();
  }
  TIdIOHandlerSocket::ShutdownSend();
}

bool TIdSSLIOHandlerSocket::CanTransmitFile() const {
  return Connected() && (FState == TState::Secure || FState == TState::Plain);
}

std::int64_t TIdSSLIOHandlerSocket::TransmitFile(int fileHandle, std::int64_t offset, std::size_t count) {
  if (!Connected()) throw EIdClosedSocket();
  if (FState == TState::Plain) return TIdIOHandlerSocket::TransmitFile(fileHandle, offset, count);
  ERR_clear_error();
  int result;
  if (FKernelSends) {
    const ossl_ssize_t sent = SSL_sendfile(FSession.get(), fileHandle, offset, count, 0);
    if (sent >= 0) return sent;
    result = -1;
  } else {
    // A block is read once and written as the socket takes it: a write that must wait is
    // retried with the same bytes, and a partial one goes on from the rest of the block.
    if (!FFileBlock) FFileBlock = std::make_unique_for_overwrite<char[]>(kFileBlock);
    if (fileHandle != FBlockFile || offset < FBlockOffset || offset >= FBlockOffset + FBlockSize) {
      FBlockFile = fileHandle;
      FBlockOffset = offset;
      FBlockSize = static_cast<std::int64_t>(
          platform::ReadFileAt(fileHandle, FFileBlock.get(), std::min(count, kFileBlock), offset));
      if (FBlockSize == 0) {
        FBlockFile = -1;
        return 0;
      }
    }
    const auto skip = static_cast<std::size_t>(offset - FBlockOffset);
    const auto length = std::min<std::size_t>(count, static_cast<std::size_t>(FBlockSize) - skip);
    // The caller waits for room itself.
    const std::int64_t sent = SendRecords(FFileBlock.get() + skip, length, 0);
    // A block used up is forgotten: the next answer may come from another file under the same
    // descriptor number.
    if (sent == static_cast<std::int64_t>(length)) FBlockFile = -1;
    return sent;
  }
  return ReportFailure(SSL_get_error(FSession.get(), result));
}

std::int64_t TIdSSLIOHandlerSocket::SendRecords(const char* data, std::size_t length, int ms) {
  if (FUnflushed == 0) {
    CollectRecords(true);
    const std::size_t wanted = std::min(length, kFileBlock);
    std::size_t written = 0;
    int result = 1;
    while (written < wanted) {
      ERR_clear_error();
      result = SSL_write(FSession.get(), data + written, ToInt(wanted - written));
      if (result <= 0) break;
      written += static_cast<std::size_t>(result);
    }
    // The buffer holds the block whole: a write that failed did not wait for the socket.
    if (written == 0) {
      const int code = SSL_get_error(FSession.get(), result);
      CollectRecords(false);
      return ReportFailure(code);
    }
    FUnflushed = written;
  }
  BIO* const out = SSL_get_wbio(FSession.get());
  while (BIO_flush(out) <= 0) {
    if (!BIO_should_retry(out)) return ReportFailure(SSL_ERROR_SYSCALL);
    if (!AwaitSession(SSL_ERROR_WANT_WRITE, ms)) {
      GStack()->SetLastPlatformError(Id_WSAEWOULDBLOCK);
      return -1;
    }
  }
  return static_cast<std::int64_t>(std::exchange(FUnflushed, 0));
}

void TIdSSLIOHandlerSocket::EndCollecting() {
  if (FUnflushed == 0) CollectRecords(false);
}

void TIdSSLIOHandlerSocket::CollectRecords(bool on) {
  if (on == FCollecting) return;
  // A socket BIO of its own for each arrangement: the session frees the one it replaces.
  BIO* out = BIO_new_socket(Endpoint()->Handle(), BIO_NOCLOSE);
  if (out == nullptr) throw std::bad_alloc();
  if (on) {
    BIO* const buffer = BIO_new(BIO_f_buffer());
    if (buffer == nullptr || BIO_set_write_buffer_size(buffer, kRecordBuffer) != 1) {
      BIO_free(buffer);
      BIO_free(out);
      throw std::bad_alloc();
    }
    out = BIO_push(buffer, out);
  }
  SSL_set0_wbio(FSession.get(), out);
  FCollecting = on;
}

void TIdSSLIOHandlerSocket::WaitWritable(int ms) {
  if (!Connected()) return;
  if (FState == TState::Plain) {
    TIdIOHandlerSocket::WaitWritable(ms);
    return;
  }
  GStack()->SockWaitWritable(Endpoint()->Handle(), ms);
}
