// The request cycle of TIdCustomHTTPServer: one request after another on a connection, from the
// request line to the written response.

#include "http/protocol/IdCustomHTTPServer.h"

#include "http/protocol/IdCoderMIME.h"
#include "http/net/IdException.h"
#include "http/protocol/IdGlobal.h"
#include "http/io/IdIOHandlerSocket.h"
#include "http/server/IdPeerThread.h"
#include "http/protocol/IdURI.h"

#include <algorithm>
#include <vector>

namespace {

// A counted body is read in steps of this size, so that the memory taken grows with the bytes
// that arrive and not with the length a client merely announces.
constexpr std::int64_t kBodyStep = 1 << 20;

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

void ReadCredentials(TIdHTTPRequestInfo& request) {
  std::string value = request.HeaderLines.ValueOf("Authorization");
  request.AuthPresent = !value.empty();
  if (!request.AuthPresent) return;
  const std::string scheme = TakeToken(value, " ");
  if (!SameText(scheme, "Basic")) throw EIdHTTPUnsupportedAuthorisationScheme();
  std::string credentials = TIdDecoderMIME::DecodeToText(value);
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
  if (!uri.Host().empty() && request.Host.empty()) request.Host = uri.Host();
}

}  // namespace

bool TIdCustomHTTPServer::HandleExecute(TIdPeerThread& thread) {
  TIdTCPServerConnection& connection = *thread.Connection();
  TCloseAtEnd closeAtEnd(connection);
  try {
    bool closeFlag = !KeepAlive;
    do {
      ServeRequest(thread, connection, closeFlag);
    } while (!closeFlag);
  } catch (const EIdSocketError& error) {
    if (error.LastError != Id_WSAECONNRESET) throw;
  } catch (const EIdClosedSocket&) {
    connection.CloseConnection();
  }
  return true;
}

void TIdCustomHTTPServer::ServeRequest(TIdPeerThread& thread, TIdTCPServerConnection& connection, bool& closeFlag) {
  const std::string requestLine = connection.ReadLine("\n");
  const std::size_t lastBlank = requestLine.rfind(' ');
  if (lastBlank == std::string::npos) throw EIdHTTPErrorParsingCommand();
  const std::string version = requestLine.substr(lastBlank + 1);
  std::string target = requestLine.substr(0, lastBlank);
  const std::string command = UpperCase(TakeToken(target, " "));
  if ((command != "GET" && command != "POST" && command != "HEAD") || !OnCommandGet) {
    HandleCommandOther(thread, command, target, version);
    return;
  }

  TIdHTTPRequestInfo request;
  request.RequestLine = requestLine;
  request.RemoteIP = PeerAddress(connection);
  request.Command = command;
  request.HeaderLines.Clear();
  std::vector<std::string> headerLines;
  connection.CaptureLines(headerLines, "", true);
  for (std::string& line : headerLines) request.HeaderLines.Add(std::move(line));
  request.ParseHeaderLines();
  ReadBody(thread, connection, request);

  const std::size_t question = target.find('?');
  if (question != std::string::npos) {
    request.QueryText = target.substr(question + 1);
    target.resize(question);
  }
  if (!request.QueryText.empty()) {
    request.ParamText = request.ParamText.empty() ? request.QueryText : request.ParamText + "\r\n" + request.QueryText;
  }
  if (ParseParams) {
    request.DecodeParams(LowerCase(request.ContentType) == "application/x-www-form-urlencoded" ? request.ParamText
                                                                                               : request.QueryText);
  }
  std::vector<std::string> cookieValues;
  request.HeaderLines.CollectValues("Cookie", &cookieValues);
  for (const std::string& value : cookieValues) request.Cookies.AddSrcCookie(value);
  request.Version = version;
  ReadDocument(request, target);
  ReadCredentials(request);

  TIdHTTPResponseInfo response(&connection);
  response.SetCloseAfterResponse(!KeepAlive);
  if (!Trim(ServerSoftware).empty()) {
    response.ServerSoftware = ServerSoftware;
    response.Server = ServerSoftware;
  }
  // The response leaves in as few segments as its size allows; a connection that closes next
  // sends the rest with its FIN, one that stays open sends it once the response is written.
  connection.HoldPartialSends(true);
  try {
    HandleCommandGet(thread, request, response);
  } catch (const std::exception& error) {
    response.SetStatusCode(500);
    response.BodyText = error.what();
  } catch (...) {
    response.SetStatusCode(500);
  }
  if (!response.HeaderWritten) response.WriteHead();
  if (!response.BodyText.empty() || response.BodyStream() != nullptr) response.WriteBody();
  closeFlag = response.CloseAfterResponse();
  if (!closeFlag) connection.HoldPartialSends(false);
}

void TIdCustomHTTPServer::ReadBody(TIdPeerThread& thread, TIdTCPServerConnection& connection,
                                   TIdHTTPRequestInfo& request) {
  std::unique_ptr<TIdStream> supplied;
  HandleCreatePostStream(thread, supplied);
  TIdStringStream temporary;
  TIdStream& stream = supplied ? *supplied : temporary;
  if (request.ContentLength() > 0) {
    for (std::int64_t remaining = request.ContentLength(); remaining > 0; remaining -= kBodyStep) {
      connection.ReadIntoStream(stream, std::min(remaining, kBodyStep));
    }
  } else if (request.Command == "POST" && !request.ContentLengthKnown()) {
    connection.ReadIntoStream(stream, -1, true);
  }
  if (const auto* text = dynamic_cast<const TIdStringStream*>(&stream)) {
    request.PostText = text->DataString();
    request.ParamText = request.PostText;
  }
  request.PostStream = std::move(supplied);
}
