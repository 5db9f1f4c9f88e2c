// The writing half of TIdTCPConnection: plain, buffered and stream writes.

#include "http/io/IdTCPConnection.h"

#include "http/net/IdException.h"
#include "http/io/IdFileStream.h"
#include "http/io/IdIOHandler.h"

#include "platform/FileSystem.h"
#include "platform/ScopeGuard.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace {

// FDelivered when the stack cannot tell what reached the peer.
constexpr std::int64_t kDeliveryUnknown = -2;

// The bytes one call of the platform's file transmit call is given: the work events come
// between calls, and a client that has gone is noticed between them too.
constexpr std::int64_t kTransmitStep = 4 << 20;

// Room made up front for collected writes: a response head fits.
constexpr std::size_t kCollectedWrites = 512;

}  // namespace

void TIdTCPConnection::WriteBytes(const void* buffer, std::int64_t count, bool sendNow) {
  if (count <= 0 || buffer == nullptr) return;
  CheckClosed(true, true);
  if (!IsConnected()) throw EIdNotConnected();
  if (FPendingWrites && !sendNow) {
    FPendingWrites->Append(buffer, static_cast<std::size_t>(count));
    if (FFlushThreshold > 0 && static_cast<std::int64_t>(FPendingWrites->Size()) >= FFlushThreshold) {
      FlushBufferedWrite(FFlushThreshold);
    }
    return;
  }
  SendBytes(static_cast<const char*>(buffer), count);
}

void TIdTCPConnection::SendBytes(const char* buffer, std::int64_t count) {
  const TIdMeteredWrite write(FSendMeter);
  std::int64_t position = 0;
  while (position < count) {
    LimitNextSend();
    const std::int64_t sent = FIOHandler->Send(buffer + position, static_cast<std::size_t>(count - position));
    if (SendWaitCut(sent)) continue;
    FPeerClosed = sent == 0;
    if (sent == -1) RaiseSendError();
    CheckClosed(true);
    NoteHandedOver(sent);
    DoWork(wmWrite, sent);
    position += sent;
  }
}

void TIdTCPConnection::NoteHandedOver(std::int64_t bytes) {
  FHandedOver += bytes;
  if (FDelivered == kDeliveryUnknown) FSendMeter.Moved(bytes, TIdSendMeter::TClock::now());
}

void TIdTCPConnection::NoteDelivered(TIdSendMeter::TClock::time_point now) {
  // What the socket takes is no measure of progress: its buffers keep growing while the client
  // reads nothing. It stands in only where the stack cannot tell what reached the client.
  const std::int64_t unacknowledged = GStack()->SockUnacknowledged(SocketHandle());
  if (unacknowledged < 0) {
    FDelivered = kDeliveryUnknown;
    return;
  }
  const std::int64_t delivered = FHandedOver - unacknowledged;
  if (FDelivered >= 0 && delivered > FDelivered) FSendMeter.Moved(delivered - FDelivered, now);
  FDelivered = std::max(FDelivered, delivered);
}

int TIdTCPConnection::LimitNextSend() {
  if (!FSendMeter.Limited()) return Id_TIMEOUT_INFINITE;
  const auto now = TIdSendMeter::TClock::now();
  NoteDelivered(now);
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(FSendMeter.Deadline(now) - now).count();
  if (left <= 0) {
    CutAnswer();
    GStack()->RaiseSocketErrorFor(Id_WSAETIMEDOUT);
  }
  // No wait lasts longer than one slice of the meter: what reaches the client while a call
  // waits is seen, and counted, at most that late. The socket's own timeout is set again only
  // when it would let a call wait longer than that or than the time left.
  const int wait = static_cast<int>(std::min<long long>(left, SendWaitSlice()));
  if (FSocketSendTimeout == 0 || FSocketSendTimeout > wait || FSocketSendTimeout * 2 < wait) SetSocketSendTimeout(wait);
  return wait;
}

void TIdTCPConnection::CutAnswer() {
  FAnswerCut = true;
  // What the socket still holds for this client is dropped at the close, and the client learns
  // that the answer was cut instead of reading on from the kernel's buffers for hours.
  const TIdStackSocketHandle socket = SocketHandle();
  const TIdLinger reset{1, 0};
  if (socket != Id_INVALID_SOCKET) GStack()->SockSetOption(socket, Id_SOL_SOCKET, Id_SO_LINGER, &reset, sizeof reset);
}

bool TIdTCPConnection::SendWaitCut(std::int64_t result) const {
  return result == -1 && FSendMeter.Limited() && GStack()->LastPlatformError() == Id_WSAEWOULDBLOCK;
}

void TIdTCPConnection::RaiseSendError() {
  // Taken before anything else runs: the close below may leave its own error behind.
  const int error = GStack()->LastPlatformError();
  CheckClosed(true);
  if (error == Id_WSAESHUTDOWN || error == Id_WSAECONNABORTED || error == Id_WSAECONNRESET) CloseSocketOnly();
  GStack()->RaiseSocketErrorFor(error);
}

void TIdTCPConnection::WriteText(const std::string& text) {
  if (!text.empty()) WriteBytes(text.data(), static_cast<std::int64_t>(text.size()));
}

void TIdTCPConnection::WriteLine(const std::string& text) {
  if (FPendingWrites) {
    // Collected anyway: the line and its end go in one after the other, without a joined copy.
    WriteText(text);
    WriteBytes("\r\n", 2);
    return;
  }
  WriteText(text + "\r\n");
}

void TIdTCPConnection::WriteInt32(std::int32_t value) {
  const std::uint32_t network = GStack()->HostToNet32(static_cast<std::uint32_t>(value));
  WriteBytes(&network, sizeof network);
}

void TIdTCPConnection::WriteReply(const TIdReply& reply) {
  if (!reply.IsEmpty()) WriteText(reply.FormattedReply());
}

void TIdTCPConnection::WriteFromStream(TIdStream& stream, bool fromStart, bool writeCountFirst, std::int64_t size) {
  if (fromStart) stream.SetPosition(0);
  const std::int64_t end = size != 0 ? stream.Position() + size : stream.Size();
  if (writeCountFirst) WriteInt32(static_cast<std::int32_t>(end - stream.Position()));
  TIdWorkScope work(*this, wmWrite, end - stream.Position());
  std::string block(static_cast<std::size_t>(std::clamp<std::int64_t>(end - stream.Position(), 0, SendBufferSize)),
                    '\0');
  for (;;) {
    const std::int64_t wanted = std::min<std::int64_t>(end - stream.Position(), SendBufferSize);
    if (wanted <= 0) return;
    const std::size_t got = stream.Read(block.data(), static_cast<std::size_t>(wanted));
    if (got == 0) throw EIdNoDataToRead();
    WriteBytes(block.data(), static_cast<std::int64_t>(got));
  }
}

std::int64_t TIdTCPConnection::WriteFromFile(const std::string& fileName, bool usePlatformTransfer) {
  // Opened first and looked up only when that fails: a missing file (or a folder) is then told
  // apart from one that exists but cannot be opened, without a look-up for every file sent.
  std::optional<TIdReadOnlyFileStream> opened;
  try {
    opened.emplace(fileName);
  } catch (const EFOpenError&) {
    if (!platform::FileExists(fileName)) throw EIdFileNotFound("File \"" + fileName + "\" not found");
    throw;
  }
  return WriteFileRange(*opened, 0, opened->SizeAtOpen(), usePlatformTransfer);
}

std::int64_t TIdTCPConnection::WriteFileRange(TIdStream& file, std::int64_t offset, std::int64_t count,
                                              bool usePlatformTransfer) {
  if (count <= 0) return 0;
  // Writes being collected must go out first, so they take the block by block path.
  if (usePlatformTransfer && !BufferedWriting() && FIOHandler != nullptr && FIOHandler->CanTransmitFile() &&
      file.Handle() != -1) {
    TransmitFile(file.Handle(), offset, count);
  } else {
    file.SetPosition(offset);
    WriteFromStream(file, false, false, count);
  }
  return count;
}

void TIdTCPConnection::TransmitFile(int fileHandle, std::int64_t offset, std::int64_t count) {
  TIdWorkScope work(*this, wmWrite, count);
  const TIdMeteredWrite write(FSendMeter);
  // The transmit call never waits here, and the waits are this loop's own, under the send
  // limits: a client that frees a little now and then must not hold the call for hours.
  const std::int64_t end = offset + count;
  while (offset < end) {
    CheckClosed(true, true);
    if (!IsConnected()) throw EIdNotConnected();
    const int wait = LimitNextSend();
    const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(end - offset, kTransmitStep));
    const std::int64_t sent = FIOHandler->TransmitFile(fileHandle, offset, wanted);
    if (sent == -1 && GStack()->LastPlatformError() == Id_WSAEWOULDBLOCK) {
      FIOHandler->WaitWritable(wait);
      continue;
    }
    if (sent == -1) RaiseSendError();
    if (sent == 0) throw EIdNoDataToRead();  // the file shrank while it was sent
    offset += sent;
    NoteHandedOver(sent);
    DoWork(wmWrite, sent);
  }
}

void TIdTCPConnection::BeginBufferedWrite(std::int64_t threshold) {
  if (!FPendingWrites) {
    FPendingWrites = std::make_unique<TIdSimpleBuffer>();
    FPendingWrites->Reserve(kCollectedWrites);
  }
  FFlushThreshold = threshold;
}

void TIdTCPConnection::FlushBufferedWrite(std::int64_t count) {
  if (!FPendingWrites || FPendingWrites->Size() == 0) return;
  const auto pending = static_cast<std::int64_t>(FPendingWrites->Size());
  const std::int64_t now = count != -1 && pending >= count ? count : pending;
  WriteBytes(FPendingWrites->Memory(), now, true);
  FPendingWrites->Remove(static_cast<std::size_t>(now));
}

void TIdTCPConnection::EndBufferedWrite() {
  platform::TAtScopeEnd stopCollecting([this] { FPendingWrites.reset(); });
  FlushBufferedWrite();
}

void TIdTCPConnection::DiscardBufferedWrite() {
  if (FPendingWrites) FPendingWrites->Clear();
}
