#pragma once
// The HTTP server: a TCP server whose connections run the HTTP request cycle, with its
// properties, events, overridable steps and the sending of files.

#include "http/protocol/IdHTTPFileAnswer.h"
#include "http/protocol/IdHTTPRequestInfo.h"
#include "http/protocol/IdHTTPResponseInfo.h"
#include "http/protocol/IdMimeTable.h"
#include "http/io/IdStream.h"
#include "http/server/IdTCPServer.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

class TIdDeadline;
class TIdReadOnlyFileStream;
class TIdTCPServerConnection;

/// Answers a "GET", "POST" or "HEAD" request by filling the response record, or by sending the
/// response itself (SendFileResponse).
using TIdHTTPGetEvent =
    std::function<void(TIdPeerThread& AThread, TIdHTTPRequestInfo& ARequestInfo, TIdHTTPResponseInfo& AResponseInfo)>;
/// Handles any other method; it reads the rest of the request from the thread's connection and
/// answers by itself.
using TIdHTTPOtherEvent = std::function<void(TIdPeerThread& Thread, const std::string& asCommand,
                                             const std::string& asData, const std::string& asVersion)>;
/// Supplies the stream that receives a request body (left empty: an in-memory one is used).
using TOnCreatePostStream = std::function<void(TIdPeerThread& ASender, std::unique_ptr<TIdStream>& VPostStream)>;

/// How the answer to one request went, as OnRequestDone reports it.
struct TIdHTTPRequestOutcome {
  int StatusCode = 0;              // the answer's status: the one sent, or the one it was to carry
  std::int64_t BodyBytesSent = 0;  // bytes of the answer after its head that the socket took
  std::time_t Received = 0;        // when the request line had come in
  std::int64_t DurationUs = 0;     // microseconds from then until the answer was over
};
/// Reports a request whose answer is over, also one cut short by an error. Runs on the
/// connection thread; whatever it throws is dropped.
using TIdHTTPRequestDoneEvent =
    std::function<void(const TIdHTTPRequestInfo& ARequestInfo, const TIdHTTPRequestOutcome& AOutcome)>;

/// An HTTP/1.1 server. Every connection thread runs HandleExecute(), the request cycle: read a
/// request, fill a request record and a fresh response record, call HandleCommandGet (which
/// fires OnCommandGet), write what the response record holds (its head alone for a HEAD), report
/// it to OnRequestDone, and close the connection unless KeepAlive. Owns its MimeTable. The properties and events are set before activation and only
/// read while the server is active, by any number of connection threads. Sessions are not
/// built: SessionState is always off while the server runs.
class TIdCustomHTTPServer : public TIdTCPServer {
public:
  /// DefaultPort 80, KeepAlive off, ParseParams on, sessions off, MimeTable filled.
  TIdCustomHTTPServer();
  /// Stops the server first: connection threads run this object's request cycle until they end.
  ~TIdCustomHTTPServer() override;

  /// Activation turns SessionState off when SessionTimeOut is 0. Main thread only.
  void SetActive(bool value) override;

  bool SessionState() const { return FSessionState; }
  /// Throws EIdHTTPCannotSwitchSessionStateWhenActive while the server is active.
  void SetSessionState(bool value);

  /// The server's own type table, used by SendFileResponse when the response has no type.
  TIdMimeTable& MimeTable() { return FMimeTable; }

  // --- overridable steps (connection thread); each default fires its event when assigned
  virtual void HandleCommandOther(TIdPeerThread& Thread, const std::string& asCommand, const std::string& asData,
                                  const std::string& asVersion);
  virtual void HandleCommandGet(TIdPeerThread& AThread, TIdHTTPRequestInfo& ARequestInfo,
                                TIdHTTPResponseInfo& AResponseInfo);
  virtual void HandleCreatePostStream(TIdPeerThread& ASender, std::unique_ptr<TIdStream>& VPostStream);
  /// Answers ARequestInfo with the file: opens it, completes the record and writes the head and
  /// then the bytes asked for through the thread's connection; returns the bytes of the file
  /// sent. The record gets the type from MimeTable when it has none ("; charset=UTF-8" added to a
  /// text type when the file's first 4 KiB read as UTF-8 text), "Accept-Ranges: bytes", the
  /// file's Last-Modified and the status of PlanFileAnswer: 200 with the whole file, 206 with
  /// its Content-Range and the part asked for, both named by ContentDispositionOf. A 304 (no body) or a 416 (Content-Range
  /// "bytes */size" and the status page) is left in the record for the request cycle to write.
  /// A HEAD gets the head alone; a body of up to 16 KiB leaves in the same send as the head.
  /// Throws EFOpenError before anything is written when the file cannot be opened or is no
  /// regular file; EIdNoDataToRead when the file shrank (after the head, unless the body is
  /// short: then nothing is sent) and write errors.
  virtual std::int64_t SendFileResponse(TIdPeerThread& AThread, const TIdHTTPRequestInfo& ARequestInfo,
                                        TIdHTTPResponseInfo& AResponseInfo, const std::string& fileName);
  /// The whole file as the answer to a plain GET.
  std::int64_t SendFileResponse(TIdPeerThread& AThread, TIdHTTPResponseInfo& AResponseInfo,
                                const std::string& fileName);
  /// The request cycle for the thread's connection; the connection is closed when it returns or
  /// throws, gracefully after a whole answer. A client that closes, or stays silent for
  /// HeadTimeout, before a byte of a request, a reset by the client and a closed socket end it
  /// quietly; every other error passes on after the close. Returns true.
  bool HandleExecute(TIdPeerThread& thread) override;

  // KeepAlive serves further requests on a connection until the client asks for its close
  // (HTTP/1.0 unless it asks to keep it), an answer can only end with the close (a 404, an
  // answer of unknown length, one cut short), KeepAliveMaxRequests have been answered, or no
  // new request begins within KeepAliveIdleTime ms. A head whose body could be read two ways
  // then gets 400 and the close. Off, every connection carries one request.
  bool KeepAlive = false;
  int KeepAliveIdleTime = 5000;
  int KeepAliveMaxRequests = 100;
  bool ParseParams = true;
  // Limits that keep one client from taking the server's memory, time or threads. A request
  // beyond them is refused: the connection is closed without an answer and the refusal goes to
  // OnException.
  int MaxHeaderLines = 100;             // header lines of one request
  std::size_t MaxHeadSize = 64 * 1024;  // bytes of one request head, line ends included
  std::int64_t MaxBodySize = 1 << 20;   // bytes of a body, as announced by Content-Length
  int MaxParams = 1000;                 // query or form parameters, and cookies, of one request
  int HeadTimeout = 30000;  // ms from a connection's start (or its last answer) to the end of the
                            // whole request, head and body; 0 = no limit
  // An answer that moves fewer than SendTimeoutBytes (and at least one byte) in any SendTimeout
  // ms of its sends is ended; SendTimeout 0 = no limit. 16 KiB a minute is far below the
  // slowest real client, and a client that reads less only holds a thread.
  int SendTimeout = 60000;
  std::int64_t SendTimeoutBytes = 16 * 1024;
  // After a whole answer the server ends its sending side and drops what the client still sends
  // until it closes, for at most CloseDrainTime ms and CloseDrainBytes: a close with unread
  // input would reset the connection and could cost the client the end of the answer.
  int CloseDrainTime = 2000;
  std::size_t CloseDrainBytes = 64 * 1024;
  std::string ServerSoftware;  // when non-blank, the "Server" of every response
  int SessionTimeOut = 0;      // ms; 0 keeps sessions off at activation
  bool AutoStartSession = false;

  TIdHTTPGetEvent OnCommandGet;
  TIdHTTPOtherEvent OnCommandOther;
  TOnCreatePostStream OnCreatePostStream;
  TIdHTTPRequestDoneEvent OnRequestDone;  // for every request that got as far as its answer

private:
  // One request of the cycle, after served others on the connection; closeFlag keeps its value
  // for a method that goes to an assigned OnCommandOther. False when the client closed, or the
  // wait passed, before a byte of the request came.
  bool ServeRequest(TIdPeerThread& thread, TIdTCPServerConnection& connection, int served, bool& closeFlag);
  // Waits for the first byte of a further request on a kept connection, as an idle connection
  // that the server may close to make room; false when none came or the server closed it.
  bool NextRequestBegins(TIdPeerThread& thread, TIdTCPServerConnection& connection);
  void ReadBody(TIdPeerThread& thread, TIdTCPServerConnection& connection, TIdHTTPRequestInfo& request,
                const TIdDeadline& deadline);
  void ReadParamsAndCookies(TIdHTTPRequestInfo& request) const;
  // Completes the record of a file answer from the open file; returns the plan it follows.
  TIdFileAnswer DescribeFileAnswer(const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response,
                                   TIdReadOnlyFileStream& file, const std::string& fileName);

  bool FSessionState = false;
  TIdMimeTable FMimeTable;
};
