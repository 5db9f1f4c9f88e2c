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

// Room for a usual head from the start.
constexpr std::size_t kHeadReserve = 512;
constexpr const char* kCrLf = "\r\n";

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
  putText("Accept-Ranges", AcceptRanges);
  putText("Content-Range", ContentRange);
  putText("Retry-After", RetryAfter);
  if (ContentLength() >= 0) HeaderLines.PutValue("Content-Length", std::to_string(ContentLength()));
  if (LastModified > 0) HeaderLines.PutValue("Last-Modified", InternetDateText(LastModified));
  putText("Content-Disposition", ContentDisposition);
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
  if (ContentLength() == -1 && StatusHasBody()) SetCloseAfterResponse(true);
  BuildHeaderLines();
  // The head is put together first and leaves in one send.
  std::string head;
  head.reserve(kHeadReserve);
  // The table holds the reason phrases as UTF-8; the wire gets them in the system code page.
  head += "HTTP/1.1 ";
  head += std::to_string(StatusCode());
  head += ' ';
  head += platform::Utf8ToCodePage(StatusText());
  head += kCrLf;
  for (const std::string& line : HeaderLines.Lines()) {
    head += line;
    head += kCrLf;
  }
  for (int i = 0; i < Cookies.Count(); ++i) {
    head += "Set-Cookie: ";
    head += Cookies[i].ServerCookie();
    head += kCrLf;
  }
  head += kCrLf;
  HeadSize = static_cast<std::int64_t>(head.size());
  TIdTCPConnection& connection = *ClientConnection;
  connection.WriteText(head);
  if (ContentLength() > kHeldBodyLimit) connection.HoldPartialSends(false);
}

void TIdHTTPResponseInfo::WriteBody() {
  if (!HeaderWritten) WriteHead();
  if (!BodyText.empty()) {
    ClientConnection->WriteText(BodyText);
  } else if (BodyStream() != nullptr && BodyStream()->Handle() != -1) {
    // A body held in a file leaves through the platform's file transmit call.
    ClientConnection->WriteFileRange(*BodyStream(), 0, BodyStream()->Size(), true);
  } else if (BodyStream() != nullptr) {
    ClientConnection->WriteFromStream(*BodyStream(), true);
  } else {
    ClientConnection->WriteLine(StatusPage());
  }
  BodyText.clear();
  ReleaseBodyStream();
}
