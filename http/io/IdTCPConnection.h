#pragma once
// A connected TCP stream with a buffered input queue: line, counted and stream reads, plain and
// buffered writes, and the rules by which a closed or broken connection becomes an exception.

#include "http/io/IdBuffer.h"
#include "http/net/IdComponent.h"
#include "http/io/IdReply.h"
#include "http/io/IdSendMeter.h"
#include "http/net/IdStack.h"
#include "http/io/IdStream.h"
#include "platform/Lock.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TIdIOHandler;

enum TIdMaxLineAction { maException, maSplit };

/// A connected TCP stream. Owns its I/O handler when it was given one by unique_ptr
/// (OwnsIOHandler()). Used by one connection thread; CloseSocketOnly() may also come from the
/// thread that stops the server, and is serialised with this thread's release of the I/O handler
/// by the connection's lock.
class TIdTCPConnection : public TIdComponent {
public:
  TIdTCPConnection();
  ~TIdTCPConnection() override;

  // --- the I/O handler
  /// Installs a handler the connection owns; a previously owned one is freed first.
  void SetIOHandler(std::unique_ptr<TIdIOHandler> handler) EXCLUDES(FLock);
  /// Installs a handler owned elsewhere; a previously owned one is freed first.
  void SetIOHandler(TIdIOHandler* handler) EXCLUDES(FLock);
  TIdIOHandler* IOHandler() const { return FIOHandler; }
  /// Connection thread only: it alone changes the handler, so it reads without the lock.
  bool OwnsIOHandler() const NO_THREAD_SAFETY_ANALYSIS { return FOwnedIOHandler != nullptr; }
  /// The connected socket's descriptor, or Id_INVALID_SOCKET. Connection thread only, e.g. for
  /// sendfile(2): the number stays valid until this thread closes the connection, because a close
  /// from another thread only shuts the socket down (a blocked send then fails with 10054).
  TIdStackSocketHandle SocketHandle() const;
  /// Ends an answer that moves fewer than minBytes (and at least one byte) to the client, as its
  /// acknowledgements tell, in any windowMs milliseconds of its sends (0 = no limit): the send
  /// under way then fails with EIdSocketError 10060, never later than the moment the rule is
  /// broken, and the connection's close becomes a reset. The window counts from the answer's
  /// first send. Connection thread only.
  void SetSendLimits(int windowMs, std::int64_t minBytes);
  /// The next send begins a new answer. Connection thread only.
  void RestartSendWindow() { FSendMeter.Restart(); }
  /// The close after a whole answer: ends the sending side, so that the client reads the end
  /// of the stream after the last byte, then reads and drops what the client still sends until
  /// it closes, maxBytes have come or ms have passed, and closes the connection. Closing with
  /// unread input would reset the connection and could cost the client the end of the answer.
  /// An answer cut by the send limits is only closed.
  /// Errors of the connection on the way are not raised; a connection already closed is only
  /// closed. Connection thread only.
  void CloseGracefully(int ms, std::size_t maxBytes);
  /// Lets partial sends wait for more bytes (see TIdStack::SockHoldPartialSends) or sends what
  /// waits. Connection thread only; nothing happens without a connected socket.
  void HoldPartialSends(bool hold);

  // --- state
  /// Whether the connection is open. May itself close the socket after a peer close.
  virtual bool IsConnected();
  /// Closes the socket after a peer close; throws EIdConnClosedGracefully when the connection
  /// is closed and raiseIfClosed is set, unless unread input remains and ignoreBuffer is clear.
  virtual void CheckClosed(bool raiseIfClosed = true, bool ignoreBuffer = false);
  /// Marks the connection closed and closes (shuts down) its socket. Any thread.
  virtual void CloseSocketOnly() EXCLUDES(FLock);
  /// Closes the socket and frees an owned I/O handler; IsConnected() is false from then on.
  virtual void CloseConnection();

  // --- reading (connection thread)
  /// Receives once into the input queue, waiting up to timeout ms (-1 = ReadTimeout, where 0
  /// means no limit; -2 = no limit). Returns the bytes received, 0 when the peer closed, -1 when
  /// the wait passed and raiseOnTimeout is clear. Throws EIdReadTimeout, EIdConnClosedGracefully,
  /// EIdNotConnected (raiseIfClosed), EIdSocketError.
  virtual std::int64_t FillInputBuffer(bool raiseIfClosed = true, int timeout = -1, bool raiseOnTimeout = true);
  /// The next line without its terminator (LF when empty; a CR before an LF goes too).
  /// Longer than maxLength (-1 = MaxLineLength, 0 = no limit): EIdReadLnMaxLineLengthExceeded,
  /// or with maSplit the first maxLength bytes and LineWasSplit(). A peer close in the middle of
  /// a line returns "" with LineTimedOut() and leaves the piece queued; a close before its
  /// first byte throws EIdConnClosedGracefully.
  virtual std::string ReadLine(const std::string& terminator = "\n", int timeout = -1, int maxLength = -1);
  /// Exactly count bytes into destination. Throws EIdConnClosedGracefully when the peer closes first.
  void ReadBytes(void* destination, std::int64_t count);
  /// count bytes (-1 with readUntilClosed clear: a 32-bit count read first) into stream at its
  /// position, or everything until the peer closes. The stream ends at its final position.
  void ReadIntoStream(TIdStream& stream, std::int64_t count = -1, bool readUntilClosed = false);
  /// Lines up to the one equal to delimiter (not stored); with dotUnstuff a leading ".." loses a
  /// dot. Returns the number of lines captured.
  std::int64_t CaptureLines(std::vector<std::string>& lines, const std::string& delimiter, bool dotUnstuff);
  /// The same, each line written to stream followed by CR LF.
  std::int64_t CaptureLines(TIdStream& stream, const std::string& delimiter, bool dotUnstuff);
  std::int32_t ReadInt32();

  // --- writing (connection thread)
  /// Sends count bytes, or queues them while buffered writing is on and sendNow is clear.
  /// Throws EIdNotConnected, EIdConnClosedGracefully, EIdSocketError (10053, 10054 and 10058
  /// also close the socket).
  void WriteBytes(const void* buffer, std::int64_t count, bool sendNow = false);
  /// Nothing for an empty text.
  virtual void WriteText(const std::string& text);
  /// The text and CR LF (an empty text writes CR LF).
  virtual void WriteLine(const std::string& text);
  /// From the position (0 with fromStart) up to size bytes (0 = to the end of the stream), in
  /// blocks of SendBufferSize. Throws EIdNoDataToRead when the stream ends early.
  virtual void WriteFromStream(TIdStream& stream, bool fromStart = false, bool writeCountFirst = false,
                               std::int64_t size = 0);
  /// Sends the whole file fileName from its first byte and returns the bytes sent: the file's
  /// size when it was opened (a file that grows is cut there). Without usePlatformTransfer, in
  /// blocks of SendBufferSize, each read just before it is sent; with it, on a socket, through
  /// the platform's file transmit call (sendfile(2)), which holds no block in memory. Throws
  /// EIdFileNotFound ("File \"<name>\" not found") when no file of that name exists (a folder
  /// does not count), EFOpenError when it cannot be opened or is not a regular file,
  /// EIdNoDataToRead when it shrinks while being sent, and the write errors of WriteBytes.
  virtual std::int64_t WriteFromFile(const std::string& fileName, bool usePlatformTransfer = false);
  /// Sends count bytes of a stream held in a file (an open file) from offset: with
  /// usePlatformTransfer, on a socket and with no writes being collected, through the platform's
  /// file transmit call (through the I/O handler, which may refuse it); otherwise block by block. Returns count. Throws EIdNoDataToRead when the
  /// file ends before, and the write errors of WriteBytes.
  std::int64_t WriteFileRange(TIdStream& file, std::int64_t offset, std::int64_t count, bool usePlatformTransfer);
  void WriteInt32(std::int32_t value);
  /// Writes a reply that has a code or text; an empty one writes nothing.
  void WriteReply(const TIdReply& reply);

  // --- buffered writing: the pieces of a response go out in one send
  /// Queues writes from now on; threshold > 0 sends early whenever that much is queued,
  /// -1 sends nothing before EndBufferedWrite().
  void BeginBufferedWrite(std::int64_t threshold = -1);
  /// Sends the first count queued bytes when at least that many wait, otherwise all of them.
  void FlushBufferedWrite(std::int64_t count = -1);
  /// Sends everything queued and turns buffered writing off (also when the send throws).
  void EndBufferedWrite();
  void DiscardBufferedWrite();
  bool BufferedWriting() const { return FPendingWrites != nullptr; }

  /// The bytes handed to the socket since the connection was made (sent, not merely queued).
  std::int64_t BytesSent() const { return FHandedOver; }

  // --- results of the last ReadLine
  bool LineWasSplit() const { return FLineWasSplit; }
  bool LineTimedOut() const { return FLineTimedOut; }
  /// Received bytes not yet consumed.
  TIdManagedBuffer& InputQueue() { return FInputQueue; }

  int ReadTimeout = 0;  // ms; 0 = no limit
  int RecvBufferSize = 32768;
  int SendBufferSize = 32768;
  int MaxLineLength = 16384;  // 0 = no limit
  TIdMaxLineAction MaxLineAction = maException;
  bool ASCIIFilter = false;  // clear bit 7 of every received byte
  std::function<void(TIdTCPConnection&)> OnDisconnected;

protected:
  virtual void DoOnDisconnected();

private:
  std::int64_t CaptureLinesInto(const std::function<void(const std::string&)>& add, const std::string& delimiter,
                                bool dotUnstuff);
  void SendBytes(const char* buffer, std::int64_t count);
  /// Throws the socket error of the send that just failed (closing the socket first for
  /// 10053, 10054 and 10058).
  [[noreturn]] void RaiseSendError();
  void TransmitFile(int fileHandle, std::int64_t offset, std::int64_t count);
  /// Before each send call: throws EIdSocketError 10060 once the send limits are broken, and
  /// keeps the socket's own send timeout short enough that the call cannot block past them.
  /// Returns how long the call may wait, in ms (Id_TIMEOUT_INFINITE without limits).
  int LimitNextSend();
  // The longest wait of one send call under the limits, in ms.
  int SendWaitSlice() const;
  /// Whether a send call that failed was only cut short by the socket's send timeout, which
  /// LimitNextSend() set: the limits, not the call, decide whether the answer goes on.
  bool SendWaitCut(std::int64_t result) const;
  // The bytes a send call handed to the socket.
  void NoteHandedOver(std::int64_t bytes);
  // Gives the meter what has reached the peer since the last look.
  void NoteDelivered(TIdSendMeter::TClock::time_point now);
  // Marks the answer cut: the close that follows is a reset, with no graceful part (a failure
  // of the socket option only costs the reset).
  void CutAnswer();
  void SetSocketSendTimeout(int ms);
  // Reads and drops input until the peer closes, maxBytes have come or ms have passed.
  void DropInput(int ms, std::size_t maxBytes);
  void ReleaseIOHandler() EXCLUDES(FLock);

  platform::TLock FLock;  // serialises the socket close with the release of the handler
  // Written under FLock by the connection thread, which alone reads it without the lock.
  TIdIOHandler* FIOHandler = nullptr;
  std::unique_ptr<TIdIOHandler> FOwnedIOHandler GUARDED_BY(FLock);
  std::atomic<bool> FPeerClosed{false};  // also set by a close from another thread
  TIdManagedBuffer FInputQueue;          // received, not yet consumed
  std::unique_ptr<TIdSimpleBuffer> FPendingWrites;  // while buffered writing is on
  std::int64_t FFlushThreshold = -1;
  TIdSendMeter FSendMeter;
  int FSocketSendTimeout = 0;     // ms the socket's own send timeout holds now; 0 = none
  std::int64_t FHandedOver = 0;   // bytes the socket took for sending
  std::int64_t FDelivered = -1;   // of them, acknowledged by the peer at the last look (-1: no
                                  // look yet; -2: the stack cannot tell)
  bool FAnswerCut = false;
  bool FLineWasSplit = false;
  bool FLineTimedOut = false;
};
