#include "http/protocol/IdHTTPResponseInfo.h"

#include <algorithm>
#include <iterator>

namespace {

struct StatusEntry {
  int Code;
  const char* Text;
};

// The reason phrases the server sends, some of them in the user interface's language.
const StatusEntry kStatusTexts[] = {
    {100, "次へ"},
    {200, "OK(&O)"},
    {201, "作成時刻"},
    {202, "Accepted"},
    {203, "Non-authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {301, "Moved Permanently"},
    {302, "Moved Temporarily"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method not allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity To Long"},
    {414, "Request-URI Too Long. 256 Chars max"},
    {415, "Unsupported Media Type"},
    {416, "Range Not Satisfiable"},
    {429, "Too Many Requests"},
    {500, "Internal Server Error"},
    {501, "実装されていません。"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway timeout"},
    {505, "HTTP version not supported"},
};

const char* const kUnknownStatusText = "Unknown Response Code";
const char* const kServerSoftware = "Velmora/1.0";

}  // namespace

TIdHTTPResponseInfo::TIdHTTPResponseInfo(TIdTCPConnection* connection) : ClientConnection(connection) {
  AssignContentLength(-1);
  HeaderLines.FoldOnPut = false;  // response header lines are never folded
  ServerSoftware = kServerSoftware;
  ContentType = "text/html";
  Server = ServerSoftware;
  SetStatusCode(200);
}

TIdHTTPResponseInfo::~TIdHTTPResponseInfo() { ReleaseBodyStream(); }

void TIdHTTPResponseInfo::SetStatusCode(int code) {
  FStatusCode = code;
  const auto* found = std::find_if(std::begin(kStatusTexts), std::end(kStatusTexts),
                                   [code](const StatusEntry& entry) { return entry.Code == code; });
  FStatusText = found != std::end(kStatusTexts) ? found->Text : kUnknownStatusText;
  if (code == 404) SetCloseAfterResponse(true);
}

void TIdHTTPResponseInfo::SetCloseAfterResponse(bool flag) {
  FCloseAfterResponse = flag;
  Connection = flag ? "close" : "keep-alive";
}

void TIdHTTPResponseInfo::SetBodyStream(TIdStream* stream) {
  if (stream == FBodyStream.get()) return;
  ReleaseBodyStream();
  FBodyStream.reset(stream);
}

void TIdHTTPResponseInfo::SetBodyStream(std::unique_ptr<TIdStream> stream) {
  SetBodyStream(stream.release());
  OwnsBodyStream = true;
}

void TIdHTTPResponseInfo::ReleaseBodyStream() {
  if (!OwnsBodyStream) static_cast<void>(FBodyStream.release());
  FBodyStream.reset();
}
