#include "http/io/IdTCPConnection.h"

#include "http/net/IdException.h"
#include "http/io/IdIOHandlerSocket.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

TIdTCPConnection::TIdTCPConnection() {
  FInputQueue.OnBytesRemoved = [this](std::size_t count) { DoWork(wmRead, static_cast<std::int64_t>(count)); };
}

TIdTCPConnection::~TIdTCPConnection() {
  CloseSocketOnly();
  ReleaseIOHandler();
}

void TIdTCPConnection::ReleaseIOHandler() {
  // Freed under the lock: the descriptor closes exactly here, never while another thread's
  // CloseSocketOnly() may still be shutting it down.
  platform::TLockGuard lock(FLock);
  FIOHandler = nullptr;
  FOwnedIOHandler.reset();
  FSocketSendTimeout = 0;
}

void TIdTCPConnection::SetIOHandler(std::unique_ptr<TIdIOHandler> handler) {
  ReleaseIOHandler();
  platform::TLockGuard lock(FLock);
  FOwnedIOHandler = std::move(handler);
  FIOHandler = FOwnedIOHandler.get();
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler) {
  ReleaseIOHandler();
  platform::TLockGuard lock(FLock);
  FIOHandler = handler;
}

TIdStackSocketHandle TIdTCPConnection::SocketHandle() const {
  const auto* socketHandler = dynamic_cast<const TIdIOHandlerSocket*>(FIOHandler);
  if (socketHandler == nullptr || !socketHandler->Connected()) return Id_INVALID_SOCKET;
  return socketHandler->Endpoint()->Handle();
}

void TIdTCPConnection::HoldPartialSends(bool hold) {
  const TIdStackSocketHandle socket = SocketHandle();
  if (socket != Id_INVALID_SOCKET) GStack()->SockHoldPartialSends(socket, hold);
}

void TIdTCPConnection::SetSendLimits(int windowMs, std::int64_t minBytes) {
  FSendMeter.SetLimits(windowMs, minBytes);
  // Set once here: an answer that keeps moving never needs another value.
  SetSocketSendTimeout(FSendMeter.Limited() ? SendWaitSlice() : 0);
}

int TIdTCPConnection::SendWaitSlice() const {
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(FSendMeter.Tolerance()).count());
}

void TIdTCPConnection::SetSocketSendTimeout(int ms) {
  const TIdStackSocketHandle socket = SocketHandle();
  if (socket == Id_INVALID_SOCKET) return;
  const std::int32_t value = ms;
  GStack()->CheckSocketResult(GStack()->SockSetOption(socket, Id_SOL_SOCKET, Id_SO_SNDTIMEO, &value, sizeof value));
  FSocketSendTimeout = ms;
}

void TIdTCPConnection::CloseGracefully(int ms, std::size_t maxBytes) {
  try {
    if (!FAnswerCut && IsConnected()) {
      FIOHandler->ShutdownSend();
      DropInput(ms, maxBytes);
    }
  } catch (const EIdException&) {
    // The client reset the connection or the server is stopping: nothing is left to save.
  }
  CloseConnection();
}

void TIdTCPConnection::DropInput(int ms, std::size_t maxBytes) {
  FInputQueue.Clear();
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  char block[4096];
  for (std::size_t dropped = 0; dropped < maxBytes;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !FIOHandler->Readable(static_cast<int>(left))) return;
    const std::int64_t n = FIOHandler->Recv(block, std::min(sizeof block, maxBytes - dropped));
    if (n <= 0) return;  // the client closed too, or reset
    dropped += static_cast<std::size_t>(n);
  }
}

void TIdTCPConnection::DoOnDisconnected() {
  if (OnDisconnected) OnDisconnected(*this);
}

bool TIdTCPConnection::IsConnected() {
  CheckClosed(false);
  return FIOHandler != nullptr && FIOHandler->Connected();
}

void TIdTCPConnection::CheckClosed(bool raiseIfClosed, bool ignoreBuffer) {
  bool closed = false;
  if (FPeerClosed || FIOHandler == nullptr) {
    if (FIOHandler != nullptr) {
      if (FIOHandler->Connected()) {
        CloseSocketOnly();
        DoStatus(hsDisconnected);
        DoOnDisconnected();
      }
      closed = true;
    }
  } else {
    closed = !FIOHandler->Connected();
  }
  if (closed && (FInputQueue.Size() == 0 || ignoreBuffer) && raiseIfClosed) throw EIdConnClosedGracefully();
}

void TIdTCPConnection::CloseSocketOnly() {
  platform::TLockGuard lock(FLock);
  if (FIOHandler == nullptr) return;
  FPeerClosed = true;
  FIOHandler->Close();
}

void TIdTCPConnection::CloseConnection() {
  DoStatus(hsDisconnecting);
  CloseSocketOnly();
  if (OwnsIOHandler()) ReleaseIOHandler();
  DoOnDisconnected();
  DoStatus(hsDisconnected);
}

std::int64_t TIdTCPConnection::FillInputBuffer(bool raiseIfClosed, int timeout, bool raiseOnTimeout) {
  if (timeout == -1) timeout = ReadTimeout == 0 ? Id_TIMEOUT_INFINITE : ReadTimeout;
  std::int64_t result = 0;
  CheckClosed(raiseIfClosed);
  if (!IsConnected()) {
    if (raiseIfClosed) throw EIdNotConnected();
    return result;
  }
  const auto blockSize = static_cast<std::size_t>(RecvBufferSize);
  std::int64_t n = 0;
  do {
    std::unique_ptr<char[]> block;
    if (FIOHandler == nullptr) {
      n = 0;
      if (raiseIfClosed) throw EIdNotConnected();
    } else {
      // What has arrived is taken at once: most requests are there by the time they are read,
      // and a wait on the socket would cost a call for nothing.
      block = std::make_unique_for_overwrite<char[]>(blockSize);
      n = FIOHandler->TryRecv(block.get(), blockSize);
      if (n == -1 && GStack()->LastPlatformError() == Id_WSAEWOULDBLOCK) {
        // The block lives only while there is data to take: a connection waiting for its
        // client holds none (kept per connection, it often sat on pages made resident by
        // earlier answers).
        block.reset();
        if (!FIOHandler->Readable(timeout)) {
          if (raiseOnTimeout) throw EIdReadTimeout();
          return -1;
        }
        block = std::make_unique_for_overwrite<char[]>(blockSize);
        n = FIOHandler->Recv(block.get(), blockSize);
      }
    }
    FPeerClosed = n == 0;
    if (n == -1) {
      const int error = GStack()->LastPlatformError();
      if (error != Id_WSAESHUTDOWN && error != Id_WSAECONNABORTED) GStack()->RaiseSocketErrorFor(error);
      CloseSocketOnly();
      // Data that arrived before the failure is read first; the failure shows as a close.
      if (FInputQueue.Size() == 0) GStack()->RaiseSocketErrorFor(error);
      n = 0;
    }
    if (n > 0) {
      if (ASCIIFilter) {
        for (std::int64_t i = 0; i < n; ++i) block[i] = static_cast<char>(block[i] & 0x7F);
      }
      FInputQueue.Append(block.get(), static_cast<std::size_t>(n));
    }
    CheckClosed(raiseIfClosed);
    result = n;
  } while (n == 0 && IsConnected());
  return result;
}

std::string TIdTCPConnection::ReadLine(const std::string& terminator, int timeout, int maxLength) {
  const std::string term = terminator.empty() ? std::string("\n") : terminator;
  const std::size_t limit = static_cast<std::size_t>(maxLength == -1 ? MaxLineLength : maxLength);
  FLineWasSplit = false;
  FLineTimedOut = false;
  std::size_t searchFrom = 0;  // bytes before this were searched already
  for (;;) {
    const std::string_view queued(FInputQueue.Memory(), FInputQueue.Size());
    const std::size_t found = queued.find(term, searchFrom);
    if (queued.size() >= term.size()) searchFrom = queued.size() - term.size() + 1;
    if (limit != 0 && (found == std::string_view::npos ? queued.size() > limit : found > limit)) {
      if (MaxLineAction == maException) throw EIdReadLnMaxLineLengthExceeded();
      FLineWasSplit = true;
      return FInputQueue.Extract(limit);
    }
    if (found == std::string_view::npos) {
      CheckClosed(true, true);
      if (FillInputBuffer(true, timeout, timeout == -1) == 0) {
        FLineTimedOut = true;
        return std::string();
      }
      continue;
    }
    std::string line = FInputQueue.Extract(found + term.size());
    line.resize(found);
    if (term == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
}

void TIdTCPConnection::ReadBytes(void* destination, std::int64_t count) {
  if (count <= 0 || destination == nullptr) return;
  const auto needed = static_cast<std::size_t>(count);
  while (FInputQueue.Size() < needed) {
    FillInputBuffer();
    CheckClosed(true, true);
  }
  std::memcpy(destination, FInputQueue.Memory(), needed);
  FInputQueue.Remove(needed);
}

std::int32_t TIdTCPConnection::ReadInt32() {
  std::uint32_t value = 0;
  ReadBytes(&value, sizeof value);
  return static_cast<std::int32_t>(GStack()->NetToHost32(value));
}

void TIdTCPConnection::ReadIntoStream(TIdStream& stream, std::int64_t count, bool readUntilClosed) {
  if (count == -1 && !readUntilClosed) count = ReadInt32();
  if (count >= 0) {
    const std::int64_t position = stream.Position();
    stream.SetSize(position + count);
    stream.SetPosition(position);
  }
  std::int64_t remaining = readUntilClosed ? std::numeric_limits<std::int64_t>::max() : count;
  // Whatever happens, the stream ends where the data written to it ends.
  struct TCutAtPosition {
    TIdStream& Stream;
    ~TCutAtPosition() {
      if (Stream.Size() > Stream.Position()) Stream.SetSize(Stream.Position());
    }
  } cut{stream};
  TIdWorkScope work(*this, wmRead, readUntilClosed ? 0 : count);
  const auto queued = static_cast<std::size_t>(std::min<std::int64_t>(FInputQueue.Size(), remaining));
  stream.Write(FInputQueue.Memory(), queued);
  FInputQueue.Remove(queued);
  remaining -= static_cast<std::int64_t>(queued);
  const std::int64_t blockSize = std::min<std::int64_t>(remaining, RecvBufferSize);
  std::string block;
  while (IsConnected() && remaining > 0) {
    block.resize(static_cast<std::size_t>(std::min(remaining, blockSize)));
    try {
      ReadBytes(block.data(), static_cast<std::int64_t>(block.size()));
    } catch (const EIdConnClosedGracefully&) {
      if (!readUntilClosed) throw;
      block = FInputQueue.Extract(FInputQueue.Size());
    }
    stream.Write(block.data(), block.size());
    remaining -= static_cast<std::int64_t>(block.size());
  }
}

std::int64_t TIdTCPConnection::CaptureLinesInto(const std::function<void(const std::string&)>& add,
                                                const std::string& delimiter, bool dotUnstuff) {
  std::int64_t count = 0;
  TIdWorkScope work(*this, wmRead);
  for (;;) {
    std::string line = ReadLine();
    if (line == delimiter) return count;
    if (dotUnstuff && line.starts_with("..")) line.erase(0, 1);
    ++count;
    add(line);
  }
}

std::int64_t TIdTCPConnection::CaptureLines(std::vector<std::string>& lines, const std::string& delimiter,
                                            bool dotUnstuff) {
  return CaptureLinesInto([&](const std::string& line) { lines.push_back(line); }, delimiter, dotUnstuff);
}

std::int64_t TIdTCPConnection::CaptureLines(TIdStream& stream, const std::string& delimiter, bool dotUnstuff) {
  return CaptureLinesInto(
      [&](const std::string& line) {
        const std::string text = line + "\r\n";
        stream.Write(text.data(), text.size());
      },
      delimiter, dotUnstuff);
}
