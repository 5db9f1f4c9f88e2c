// The request cycle of TIdCustomHTTPServer: one request after another on a connection, from the
// request line to the written response.

#include "http/protocol/IdCustomHTTPServer.h"

#include "http/io/IdDeadline.h"
#include "http/io/IdIOHandlerSocket.h"
#include "http/net/IdException.h"
#include "http/protocol/IdCoderMIME.h"
#include "http/protocol/IdGlobal.h"
#include "http/protocol/IdHTTPPersistence.h"
#include "http/protocol/IdHTTPRequestReader.h"
#include "http/protocol/IdURI.h"
#include "http/server/IdPeerThread.h"
#include "platform/DateTime.h"
#include "platform/ScopeGuard.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <limits>

namespace {

using TClock = std::chrono::steady_clock;

std::string PeerAddress(TIdTCPConnection& connection) {
  const auto* handler = dynamic_cast<const TIdIOHandlerSocket*>(connection.IOHandler());
  return handler != nullptr && handler->Endpoint() != nullptr ? handler->Endpoint()->RemoteAddress() : std::string();
}

// Closes the connection however the cycle ends.
class TCloseAtEnd {
public:
  explicit TCloseAtEnd(TIdTCPConnection& connection) : FConnection(connection) {}
  ~TCloseAtEnd() {
    try {
      FConnection.CloseConnection();
    } catch (...) {
      // A failing status event must not replace the error that ends the cycle.
    }
  }
  TCloseAtEnd(const TCloseAtEnd&) = delete;
  TCloseAtEnd& operator=(const TCloseAtEnd&) = delete;

private:
  TIdTCPConnection& FConnection;
};

// When a request came in: by the steady clock for its duration, by the wall clock for its log.
struct TArrival {
  TClock::time_point At = TClock::now();
  std::time_t Wall = platform::Now();
};

// Reports the request to the event once its answer is over, however the answer ended.
class TReportWhenDone {
public:
  TReportWhenDone(const TIdHTTPRequestDoneEvent& event, const TIdHTTPRequestInfo& request,
                  const TIdHTTPResponseInfo& response, const TIdTCPConnection& connection, const TArrival& arrival)
      : FEvent(event), FRequest(request), FResponse(response), FConnection(connection), FArrival(arrival),
        FSentBefore(connection.BytesSent()) {}
  ~TReportWhenDone() {
    if (!FEvent) return;
    try {
      const std::int64_t sent = FConnection.BytesSent() - FSentBefore;
      const auto duration = std::chrono::duration_cast<std::chrono::microseconds>(TClock::now() - FArrival.At);
      FEvent(FRequest, {FResponse.StatusCode(), std::max<std::int64_t>(0, sent - FResponse.HeadSize), FArrival.Wall,
                        duration.count()});
    } catch (...) {
      // A report that fails must not replace the error that may be ending the cycle.
    }
  }
  TReportWhenDone(const TReportWhenDone&) = delete;
  TReportWhenDone& operator=(const TReportWhenDone&) = delete;

private:
  const TIdHTTPRequestDoneEvent& FEvent;
  const TIdHTTPRequestInfo& FRequest;
  const TIdHTTPResponseInfo& FResponse;
  const TIdTCPConnection& FConnection;
  const TArrival& FArrival;
  std::int64_t FSentBefore;
};

// Receives into the connection's input queue when it holds nothing, waiting at most timeoutMs;
// throws EIdReadTimeout when nothing came, EIdConnClosedGracefully when the client closed.
void ReceiveMore(TIdTCPConnection& connection, int timeoutMs) {
  if (connection.InputQueue().Size() == 0) connection.FillInputBuffer(true, timeoutMs, true);
}

// Waits for the first byte of a request. False when the client closed, or the deadline passed,
// before it sent one: a spare connection that a browser opened and never used, no error.
bool RequestBegins(TIdTCPConnection& connection, const TIdDeadline& deadline) {
  try {
    ReceiveMore(connection, deadline.RemainingMs());
    return true;
  } catch (const EIdReadTimeout&) {
  } catch (const EIdConnClosedGracefully&) {
  }
  return false;
}

// Feeds the head reader from the connection until it has left state.
void ReadHeadWhile(TIdTCPConnection& connection, TIdHTTPRequestReader& reader, TIdHTTPRequestReader::TState state,
                   const TIdDeadline& deadline) {
  TIdManagedBuffer& queue = connection.InputQueue();
  while (reader.State() == state) {
    ReceiveMore(connection, deadline.RemainingMs());
    queue.Remove(reader.Feed(std::string_view(queue.Memory(), queue.Size())));
  }
}

// Whether text holds a control byte (below 0x20, or 0x7F): no request target may, since file
// names are cut at a NUL and log lines at a line end.
bool HasControlByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

// Basic credentials: the scheme "Basic" in any case, blanks, then the base64 form of the user
// name, ":" and the password (which may hold further colons). Anything else (another scheme,
// a broken base64 text, no colon) counts as no credentials at all, so that the handler asks for
// them again or, without a password set, serves the request as if none had come.
void ReadCredentials(TIdHTTPRequestInfo& request) {
  std::string value = request.HeaderLines.ValueOf("Authorization");
  const std::string scheme = TakeToken(value, " ");
  const std::string token = Trim(value);
  if (!SameText(scheme, "Basic") || !TIdDecoderMIME::IsWellFormed(token)) return;
  std::string credentials = TIdDecoderMIME::DecodeToText(token);
  if (credentials.find(':') == std::string::npos) return;
  request.AuthPresent = true;
  request.AuthUser = TakeToken(credentials, ":");
  request.AuthPassword = credentials;
}

void ReadDocument(TIdHTTPRequestInfo& request, const std::string& target) {
  if (target == "*") {
    request.Document = "*";
    return;
  }
  const TIdURI uri(target);
  request.Document = TIdURI::PercentDecode(uri.Path()) + TIdURI::PercentDecode(uri.Document()) + uri.Params();
  if (HasControlByte(request.Document)) throw EIdHTTPInvalidRequestTarget();
  if (!uri.Host().empty() && request.Host.empty()) request.Host = TIdURI::Authority(uri.Host(), uri.Port());
}

// The fixed 500 page in place of whatever the handler had begun. Once a head has gone out, its
// status stands and nothing may follow the part of the body that left: the answer ends there,
// with the connection.
void AnswerInternalError(TIdHTTPResponseInfo& response) {
  if (response.HeaderWritten) {
    response.BodyText.clear();
    response.ReleaseBodyStream();
    response.SetCloseAfterResponse(true);
    return;
  }
  response.SetStatusCode(500);
  response.ContentType = "text/html";
  response.BodyText = response.StatusPage();
}

std::size_t CountOf(char c, std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

}  // namespace

bool TIdCustomHTTPServer::HandleExecute(TIdPeerThread& thread) {
  TIdTCPServerConnection& connection = *thread.Connection();
  TCloseAtEnd closeAtEnd(connection);
  try {
    connection.SetSendLimits(SendTimeout, SendTimeoutBytes);
    bool closeFlag = !KeepAlive;
    for (int served = 0; !closeFlag || served == 0; ++served) {
      if (!ServeRequest(thread, connection, served, closeFlag)) return true;
    }
    connection.CloseGracefully(CloseDrainTime, CloseDrainBytes);
  } catch (const EIdSocketError& error) {
    if (error.LastError != Id_WSAECONNRESET) throw;
  } catch (const EIdClosedSocket&) {
    connection.CloseConnection();
  }
  return true;
}

bool TIdCustomHTTPServer::NextRequestBegins(TIdPeerThread& thread, TIdTCPServerConnection& connection) {
  const TIdDeadline idleDeadline(HeadTimeout > 0 ? std::min(KeepAliveIdleTime, HeadTimeout) : KeepAliveIdleTime);
  EnterIdle(thread);
  bool begun = false;
  {
    const platform::TOnScopeFailure leave([&] { LeaveIdle(thread); });
    begun = RequestBegins(connection, idleDeadline);
  }
  // A connection closed to make room for another is not served, even when a request came.
  return LeaveIdle(thread) && begun;
}

bool TIdCustomHTTPServer::ServeRequest(TIdPeerThread& thread, TIdTCPServerConnection& connection, int served,
                                       bool& closeFlag) {
  using TState = TIdHTTPRequestReader::TState;
  // The whole request, head and body, within the time allowed, however slowly it trickles in.
  const TIdDeadline requestDeadline(HeadTimeout);
  const bool begun = served == 0 ? RequestBegins(connection, requestDeadline) : NextRequestBegins(thread, connection);
  if (!begun) return false;
  const std::size_t lineLimit =
      connection.MaxLineLength > 0 ? static_cast<std::size_t>(connection.MaxLineLength) : std::numeric_limits<std::size_t>::max();
  TIdHTTPRequestReader reader({lineLimit, static_cast<std::size_t>(MaxHeaderLines), MaxHeadSize});
  ReadHeadWhile(connection, reader, TState::RequestLine, requestDeadline);
  const TArrival arrival;
  const std::string& requestLine = reader.RequestLine();
  const std::size_t lastBlank = requestLine.rfind(' ');
  if (lastBlank == std::string::npos) throw EIdHTTPErrorParsingCommand();
  const std::string version = requestLine.substr(lastBlank + 1);
  std::string target = requestLine.substr(0, lastBlank);
  const std::string command = UpperCase(TakeToken(target, " "));
  if ((command != "GET" && command != "POST" && command != "HEAD") || !OnCommandGet) {
    // Without an event to read the rest of the request, nothing after it can be told apart.
    if (!OnCommandOther) closeFlag = true;
    HandleCommandOther(thread, command, target, version);
    return true;
  }
  if (HasControlByte(target)) throw EIdHTTPInvalidRequestTarget();

  TIdHTTPRequestInfo request;
  request.RequestLine = requestLine;
  request.RemoteIP = PeerAddress(connection);
  request.Command = command;
  ReadHeadWhile(connection, reader, TState::HeaderLines, requestDeadline);
  request.HeaderLines.Clear();
  for (std::string& line : reader.TakeHeaderLines()) request.HeaderLines.Add(std::move(line));
  request.ParseHeaderLines();
  // On a connection that carries further requests, a head whose body could be read two ways is
  // answered and the connection closed: what follows it is never taken for a request.
  const bool ambiguous = KeepAlive && HasAmbiguousFraming(request.HeaderLines.Lines());
  if (!ambiguous) ReadBody(thread, connection, request, requestDeadline);

  const std::size_t question = target.find('?');
  if (question != std::string::npos) {
    request.QueryText = target.substr(question + 1);
    target.resize(question);
  }
  if (!request.QueryText.empty()) {
    request.ParamText = request.ParamText.empty() ? request.QueryText : request.ParamText + "\r\n" + request.QueryText;
  }
  ReadParamsAndCookies(request);
  request.Version = version;
  ReadDocument(request, target);
  ReadCredentials(request);

  TIdHTTPResponseInfo response(&connection);
  const TReportWhenDone report(OnRequestDone, request, response, connection, arrival);
  std::vector<std::string> connectionValues;
  request.HeaderLines.CollectValues("Connection", &connectionValues);
  response.SetCloseAfterResponse(!KeepAlive || ambiguous || served + 1 >= KeepAliveMaxRequests ||
                                 !ClientKeepsConnection(version, connectionValues));
  if (!Trim(ServerSoftware).empty()) {
    response.ServerSoftware = ServerSoftware;
    response.Server = ServerSoftware;
  }
  // Who writes and how it leaves the socket is decided here and in WriteHead alone: the handler
  // may write a file response itself, the cycle writes whatever is left. Sends are held back
  // from the handler's start, so that a response leaves in as few segments as its size allows;
  // WriteHead lets a large body go as it comes, a connection that closes next sends the rest
  // with its FIN, and one that stays open sends it once the response is written.
  connection.HoldPartialSends(true);
  connection.RestartSendWindow();
  const std::int64_t sentBefore = connection.BytesSent();
  if (ambiguous) {
    response.SetStatusCode(400);
    response.BodyText = response.StatusPage();
  } else {
    try {
      HandleCommandGet(thread, request, response);
    } catch (const std::exception& error) {
      // The client learns the status only; what went wrong is the server's to report.
      DoException(thread, error);
      AnswerInternalError(response);
    } catch (...) {
      AnswerInternalError(response);
    }
  }
  const bool bodyFollows = command != "HEAD" && response.StatusHasBody();
  if (!response.HeaderWritten) {
    // On a kept connection the length is the only end of an answer: an empty one says 0.
    if (!response.CloseAfterResponse() && response.StatusHasBody() && response.ContentLength() == -1 &&
        response.BodyText.empty() && response.BodyStream() == nullptr)
      response.AssignContentLength(0);
    response.WriteHead();
  }
  // A HEAD answer is the head that the GET of the same target would carry, length included.
  if (command != "HEAD" && (!response.BodyText.empty() || response.BodyStream() != nullptr)) response.WriteBody();
  // An answer that sent more or less than its head announced can only be ended by the close.
  const std::int64_t bodySent = connection.BytesSent() - sentBefore - response.HeadSize;
  if (bodyFollows && bodySent != response.ContentLength()) response.SetCloseAfterResponse(true);
  closeFlag = response.CloseAfterResponse();
  if (!closeFlag) connection.HoldPartialSends(false);
  return true;
}

void TIdCustomHTTPServer::ReadBody(TIdPeerThread& thread, TIdTCPServerConnection& connection,
                                   TIdHTTPRequestInfo& request, const TIdDeadline& deadline) {
  // Refused from the head alone: nothing of such a body is ever read.
  if (!request.HeaderLines.ValueOf("Transfer-Encoding").empty()) throw EIdHTTPTransferEncodingNotSupported();
  const std::int64_t length = request.ContentLength();
  if (length > MaxBodySize) throw EIdHTTPBodyTooLarge();
  std::unique_ptr<TIdStream> supplied;
  HandleCreatePostStream(thread, supplied);
  // Without a length there is no body (a request is never read up to the client's close).
  if (length > 0) {
    if (!supplied) request.PostText.reserve(static_cast<std::size_t>(length));
    TIdManagedBuffer& queue = connection.InputQueue();
    for (std::int64_t remaining = length; remaining > 0;) {
      ReceiveMore(connection, deadline.RemainingMs());
      const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(remaining, queue.Size()));
      if (supplied) {
        supplied->Write(queue.Memory(), piece);
      } else {
        request.PostText.append(queue.Memory(), piece);
      }
      queue.Remove(piece);
      remaining -= static_cast<std::int64_t>(piece);
    }
  }
  if (const auto* text = dynamic_cast<const TIdStringStream*>(supplied.get())) request.PostText = text->DataString();
  if (!supplied || dynamic_cast<const TIdStringStream*>(supplied.get()) != nullptr) request.ParamText = request.PostText;
  request.PostStream = std::move(supplied);
}

void TIdCustomHTTPServer::ReadParamsAndCookies(TIdHTTPRequestInfo& request) const {
  const auto limit = static_cast<std::size_t>(MaxParams);
  if (ParseParams) {
    const std::string& text = LowerCase(request.ContentType) == "application/x-www-form-urlencoded" ? request.ParamText
                                                                                                  : request.QueryText;
    // Each piece costs a decoded entry of its own, however short: count before decoding.
    if (!text.empty() && CountOf('&', text) >= limit) throw EIdHTTPTooManyParameters();
    request.DecodeParams(text);
  }
  std::vector<std::string> cookieValues;
  request.HeaderLines.CollectValues("Cookie", &cookieValues);
  std::size_t pieces = 0;
  for (const std::string& value : cookieValues) pieces += CountOf(';', value) + 1;
  if (pieces > limit) throw EIdHTTPTooManyParameters();
  for (const std::string& value : cookieValues) request.Cookies.AddSrcCookie(value);
}
