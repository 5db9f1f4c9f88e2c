// The writing half of TIdHTTPResponseInfo: the header lines of a response, its head and body.

#include "http/protocol/IdHTTPResponseInfo.h"

#include "http/net/IdException.h"
#include "http/protocol/IdGlobal.h"
#include "http/io/IdTCPConnection.h"
#include "platform/Text.h"

namespace {

// The largest body that waits in the socket with its head for whole segments: holding sends
// back only pays for an answer of a few segments, and a larger body streams faster when every
// segment may leave at once.
constexpr std::int64_t kHeldBodyLimit = 64 * 1024;

}  // namespace

std::string TIdHTTPResponseInfo::StatusPage() const {
  return "<HTML><BODY><B>" + std::to_string(StatusCode()) + " " + platform::Utf8ToCodePage(StatusText()) +
         "</B></BODY></HTML>";
}

void TIdHTTPResponseInfo::BuildHeaderLines() {
  TIdResponseHeaderInfo::BuildHeaderLines();
  auto putText = [this](const char* name, const std::string& value) {
    if (!value.empty()) HeaderLines.PutValue(name, value);
  };
  putText("Server", Server);
  putText("Content-Type", ContentType);
  putText("Location", Location);
  if (ContentLength() >= 0) HeaderLines.PutValue("Content-Length", std::to_string(ContentLength()));
  if (LastModified > 0) HeaderLines.PutValue("Last-Modified", InternetDateText(LastModified));
  if (!BasicRealm.empty()) {
    SetStatusCode(401);
    HeaderLines.PutValue("WWW-Authenticate", "Basic realm=\"" + BasicRealm + "\"");
    // The challenge page replaces the handler's text, and the length describes what is sent.
    BodyText = StatusPage();
    AssignContentLength(static_cast<std::int64_t>(BodyText.size()));
    HeaderLines.PutValue("Content-Length", std::to_string(ContentLength()));
  }
}

void TIdHTTPResponseInfo::WriteHead() {
  if (HeaderWritten) throw EIdHTTPHeaderAlreadyWritten();
  if (ClientConnection == nullptr) throw EIdNotConnected();
  HeaderWritten = true;
  if (ContentLength() == -1) {
    if (!BodyText.empty()) {
      AssignContentLength(static_cast<std::int64_t>(BodyText.size()));
    } else if (BodyStream() != nullptr) {
      AssignContentLength(BodyStream()->Size());
    }
  }
  BuildHeaderLines();
  TIdTCPConnection& connection = *ClientConnection;
  connection.BeginBufferedWrite(-1);
  try {
    // The table holds the reason phrases as UTF-8; the wire gets them in the system code page.
    connection.WriteLine("HTTP/1.1 " + std::to_string(StatusCode()) + " " + platform::Utf8ToCodePage(StatusText()));
    for (const std::string& line : HeaderLines.Lines()) connection.WriteLine(line);
    for (int i = 0; i < Cookies.Count(); ++i) connection.WriteLine("Set-Cookie: " + Cookies[i].ServerCookie());
    connection.WriteLine("");
  } catch (...) {
    // What was collected still goes out; the first failure is the one reported.
    try {
      connection.EndBufferedWrite();
    } catch (...) {
    }
    throw;
  }
  connection.EndBufferedWrite();
  if (ContentLength() > kHeldBodyLimit) connection.HoldPartialSends(false);
}

void TIdHTTPResponseInfo::WriteBody() {
  if (!HeaderWritten) WriteHead();
  if (!BodyText.empty()) {
    ClientConnection->WriteText(BodyText);
  } else if (BodyStream() != nullptr) {
    ClientConnection->WriteFromStream(*BodyStream(), true);
  } else {
    ClientConnection->WriteLine(StatusPage());
  }
  BodyText.clear();
  ReleaseBodyStream();
}
