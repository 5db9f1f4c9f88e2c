#include "http/protocol/IdCustomHTTPServer.h"

#include "http/net/IdException.h"
#include "http/io/IdFileStream.h"
#include "http/protocol/IdGlobal.h"
#include "http/server/IdPeerThread.h"
#include "platform/ScopeGuard.h"

namespace {

// How much of a text file decides whether it is labelled as UTF-8.
constexpr std::size_t kTextSniffSize = 4096;

// A file body up to this size goes out in the same send as its head: the file transmit call
// and its signal mask cost more than copying so few bytes.
constexpr std::int64_t kShortFileBody = 16 * 1024;

// A text type without parameters: one that a character set label may be added to.
bool IsPlainTextType(const std::string& type) {
  return SameText(std::string_view(type).substr(0, 5), "text/") && type.find(';') == std::string::npos;
}

// Whether the file begins with UTF-8 text beyond ASCII, which browsers would otherwise take for
// their own default encoding.
bool StartsAsUtf8Text(TIdReadOnlyFileStream& file) {
  char start[kTextSniffSize];
  file.SetPosition(0);
  const std::size_t read = file.Read(start, sizeof start);
  return IsUtf8Text(std::string_view(start, read), static_cast<std::int64_t>(read) >= file.SizeAtOpen());
}

}  // namespace

TIdCustomHTTPServer::TIdCustomHTTPServer() {
  SetDefaultPort(80);
  // One client cannot take every thread: others are still served once it holds its share.
  MaxConnections = 1024;
  MaxConnectionsPerAddress = 128;
  MaxConnectionReply.Text = {"HTTP/1.1 503 Service Unavailable", "Connection: close", "Content-Length: 0", ""};
}

TIdCustomHTTPServer::~TIdCustomHTTPServer() {
  // The TCP server's destructor would stop the server only after this part is gone, while
  // connection threads still run the request cycle: stop here, waiting as long as it takes.
  for (;;) {
    try {
      SetActive(false);
      return;
    } catch (const EIdTerminateThreadTimeout&) {
      // Some connection threads outlived TerminateWaitTime; close their sockets and wait again.
    }
  }
}

void TIdCustomHTTPServer::SetActive(bool value) {
  if (value && !Active() && SessionTimeOut == 0) FSessionState = false;
  TIdTCPServer::SetActive(value);
}

void TIdCustomHTTPServer::SetSessionState(bool value) {
  if (Active()) throw EIdHTTPCannotSwitchSessionStateWhenActive();
  FSessionState = value;
}

void TIdCustomHTTPServer::HandleCommandOther(TIdPeerThread& Thread, const std::string& asCommand,
                                             const std::string& asData, const std::string& asVersion) {
  if (OnCommandOther) OnCommandOther(Thread, asCommand, asData, asVersion);
}

void TIdCustomHTTPServer::HandleCommandGet(TIdPeerThread& AThread, TIdHTTPRequestInfo& ARequestInfo,
                                           TIdHTTPResponseInfo& AResponseInfo) {
  if (OnCommandGet) OnCommandGet(AThread, ARequestInfo, AResponseInfo);
}

void TIdCustomHTTPServer::HandleCreatePostStream(TIdPeerThread& ASender, std::unique_ptr<TIdStream>& VPostStream) {
  if (OnCreatePostStream) OnCreatePostStream(ASender, VPostStream);
}

std::int64_t TIdCustomHTTPServer::SendFileResponse(TIdPeerThread& AThread, TIdHTTPResponseInfo& AResponseInfo,
                                                   const std::string& fileName) {
  return SendFileResponse(AThread, TIdHTTPRequestInfo(), AResponseInfo, fileName);
}

std::int64_t TIdCustomHTTPServer::SendFileResponse(TIdPeerThread& AThread, const TIdHTTPRequestInfo& ARequestInfo,
                                                   TIdHTTPResponseInfo& AResponseInfo, const std::string& fileName) {
  // Opened once, before anything is written: the length announced is the length sent, and a
  // file that cannot be read is refused while the answer can still say so.
  TIdReadOnlyFileStream file(fileName);
  const TIdFileAnswer answer = DescribeFileAnswer(ARequestInfo, AResponseInfo, file, fileName);
  if (answer.StatusCode != 200 && answer.StatusCode != 206) return 0;
  if (ARequestInfo.Command == "HEAD") {
    AResponseInfo.WriteHead();
    return 0;
  }
  TIdTCPConnection& connection = *AThread.Connection();
  if (answer.Count > kShortFileBody) {
    AResponseInfo.WriteHead();
    // The platform's file transmit call: the same bytes, without passing through this process.
    return connection.WriteFileRange(file, answer.Offset, answer.Count, true);
  }
  connection.BeginBufferedWrite();
  {
    // Nothing of a file that shrank meanwhile goes out: no head announcing the wrong length.
    const platform::TOnScopeFailure discard([&connection] {
      connection.DiscardBufferedWrite();
      connection.EndBufferedWrite();
    });
    AResponseInfo.WriteHead();
    connection.WriteFileRange(file, answer.Offset, answer.Count, true);
  }
  connection.EndBufferedWrite();
  return answer.Count;
}

TIdFileAnswer TIdCustomHTTPServer::DescribeFileAnswer(const TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response,
                                                      TIdReadOnlyFileStream& file, const std::string& fileName) {
  const std::int64_t size = file.SizeAtOpen();
  const TIdFileAnswer answer = PlanFileAnswer(request, size, platform::UtcDateTime(file.LastWriteAtOpen()));
  const platform::TDateTime lastModified = LastModifiedOf(file.LastWriteAtOpen());
  // The record is completed only once the dates are read: an error above leaves nothing of the
  // file in it for the 500 that follows.
  if (response.ContentType.empty()) response.ContentType = FMimeTable.MimeTypeOf(fileName);
  if (IsPlainTextType(response.ContentType) && StartsAsUtf8Text(file)) response.ContentType += "; charset=UTF-8";
  response.AcceptRanges = "bytes";
  response.LastModified = lastModified;
  DescribeRangeAnswer(response, answer, size);
  if (answer.StatusCode == 200 || answer.StatusCode == 206)
    response.ContentDisposition = ContentDispositionOf(std::string_view(fileName).substr(fileName.rfind('/') + 1));
  return answer;
}
