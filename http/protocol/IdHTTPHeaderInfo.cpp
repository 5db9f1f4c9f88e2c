#include "http/protocol/IdHTTPHeaderInfo.h"

#include "http/protocol/IdGlobal.h"

#include <ctime>
#include <vector>

namespace {

constexpr int kRecordFoldWidth = 1024;
constexpr double kSecondsPerDay = 86400;

// A byte position of a range: 0 when it is not a number, and a negative one is none either.
std::int64_t RangeBound(const std::string& text) {
  const std::int64_t value = StrToInt64Def(text, 0);
  return value < 0 ? 0 : value;
}

// Appends every value of the named lines in source to target, one line each.
void CollectInto(const TIdHeaderList& source, const std::string& name, TIdHeaderList& target) {
  std::vector<std::string> values;
  source.CollectValues(name, &values);
  for (std::string& value : values) target.Add(std::move(value));
}

}  // namespace

// Entity level

TIdEntityHeaderInfo::TIdEntityHeaderInfo() {
  HeaderLines.FoldWidth = kRecordFoldWidth;
  TIdEntityHeaderInfo::ResetFields();
}

void TIdEntityHeaderInfo::AssignContentLength(std::int64_t n) {
  FContentLength = n;
  FContentLengthKnown = n >= 0;
}

void TIdEntityHeaderInfo::ResetFields() {
  HeaderLines.Clear();
  Connection.clear();
  ContentEncoding.clear();
  ContentLanguage.clear();
  FContentLength = -1;
  ContentRangeEnd = 0;
  ContentRangeStart = 0;
  ContentType = "text/html";
  ContentVersion.clear();
  Date = 0;
  Expires = 0;
  LastModified = 0;
}

void TIdEntityHeaderInfo::ParseHeaderLines() {
  Connection = HeaderLines.ValueOf("Connection");
  ContentVersion = HeaderLines.ValueOf("Content-Version");
  ContentEncoding = HeaderLines.ValueOf("Content-Encoding");
  ContentLanguage = HeaderLines.ValueOf("Content-Language");
  ContentType = HeaderLines.ValueOf("Content-Type");
  // A length that is not a number, or a negative one, counts as no length at all.
  const std::int64_t length = StrToInt64Def(Trim(HeaderLines.ValueOf("Content-Length")), -1);
  AssignContentLength(length < 0 ? -1 : length);
  Date = HeaderDateToLocal(HeaderLines.ValueOf("Date"));
  LastModified = HeaderDateToLocal(HeaderLines.ValueOf("Last-Modified"));
  const std::string expires = HeaderLines.ValueOf("Expires");
  const std::int64_t seconds = StrToInt64Def(expires, -1);
  if (seconds != -1) {
    Expires = platform::LocalDateTime(platform::Now()) + static_cast<double>(seconds) / kSecondsPerDay;
  } else {
    Expires = HeaderDateToLocal(expires);
  }
  Pragma = HeaderLines.ValueOf("Pragma");
}

void TIdEntityHeaderInfo::BuildHeaderLines() {
  HeaderLines.Clear();
  auto putText = [this](const char* name, const std::string& value) {
    if (!value.empty()) HeaderLines.PutValue(name, value);
  };
  auto putDate = [this](const char* name, platform::TDateTime value) {
    if (value > 0) HeaderLines.PutValue(name, InternetDateText(value));
  };
  putText("Connection", Connection);
  putText("Content-Version", ContentVersion);
  putText("Content-Encoding", ContentEncoding);
  putText("Content-Language", ContentLanguage);
  putText("Content-Type", ContentType);
  if (FContentLength >= 0) HeaderLines.PutValue("Content-Length", std::to_string(FContentLength));
  putText("Cache-control", CacheControl);
  putDate("Date", Date);
  putDate("Expires", Expires);
  putText("Pragma", Pragma);
  for (const std::string& line : CustomHeaders.Lines()) HeaderLines.Add(line);
}

// Request level

TIdRequestHeaderInfo::TIdRequestHeaderInfo() { ResetFields(); }

void TIdRequestHeaderInfo::ResetFields() {
  Accept = "text/html, */*";
  AcceptCharSet.clear();
  Password.clear();
  UserAgent = "Mozilla/3.0 (compatible; Velmora)";
  Username.clear();
  BasicAuthentication = false;
  TIdEntityHeaderInfo::ResetFields();
}

void TIdRequestHeaderInfo::ParseHeaderLines() {
  Accept = HeaderLines.ValueOf("Accept");
  AcceptCharSet = HeaderLines.ValueOf("Accept-Charset");
  AcceptEncoding = HeaderLines.ValueOf("Accept-Encoding");
  AcceptLanguage = HeaderLines.ValueOf("Accept-Language");
  Host = HeaderLines.ValueOf("Host");
  From = HeaderLines.ValueOf("From");
  Referer = HeaderLines.ValueOf("Referer");
  UserAgent = HeaderLines.ValueOf("User-Agent");
  std::string range = HeaderLines.ValueOf("Range");
  if (!range.empty()) {
    TakeToken(range, "=");
    ContentRangeStart = RangeBound(TakeToken(range, "-"));
    ContentRangeEnd = RangeBound(TakeToken(range, " "));
  }
  TIdEntityHeaderInfo::ParseHeaderLines();
}

// Response level

TIdResponseHeaderInfo::TIdResponseHeaderInfo() { ResetFields(); }

void TIdResponseHeaderInfo::ResetFields() {
  TIdEntityHeaderInfo::ResetFields();
  Location.clear();
  Server.clear();
  AcceptRanges.clear();
  ContentRange.clear();
  RetryAfter.clear();
  ContentDisposition.clear();
  ProxyAuthenticate.Clear();
  WWWAuthenticate.Clear();
}

void TIdResponseHeaderInfo::ParseHeaderLines() {
  Location = HeaderLines.ValueOf("Location");
  Server = HeaderLines.ValueOf("Server");
  ProxyConnection = HeaderLines.ValueOf("Proxy-Connection");
  AcceptRanges = HeaderLines.ValueOf("Accept-Ranges");
  ContentDisposition = HeaderLines.ValueOf("Content-Disposition");
  // "bytes first-last/length"
  ContentRange = HeaderLines.ValueOf("Content-Range");
  std::string range = ContentRange;
  if (!range.empty()) {
    TakeToken(range, " ");
    ContentRangeStart = RangeBound(TakeToken(range, "-"));
    ContentRangeEnd = RangeBound(TakeToken(range, "/"));
  }
  WWWAuthenticate.Clear();
  CollectInto(HeaderLines, "WWW-Authenticate", WWWAuthenticate);
  ProxyAuthenticate.Clear();
  CollectInto(HeaderLines, "Proxy-Authenticate", ProxyAuthenticate);
  TIdEntityHeaderInfo::ParseHeaderLines();
}
