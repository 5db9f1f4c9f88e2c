#include "http/protocol/IdHTTPHeaderInfo.h"

#include "http/protocol/IdGlobal.h"
#include "support/ScopedTimeZone.h"

#include <gtest/gtest.h>

#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using platform::TDateTime;

// Runs each test at UTC, so that header dates read back as they were written.
class HeaderInfo : public ::testing::Test {
protected:
  static void Receive(TIdEntityHeaderInfo& info, std::initializer_list<const char*> lines) {
    info.HeaderLines.Clear();
    for (const char* line : lines) info.HeaderLines.Add(line);
    info.ParseHeaderLines();
  }

private:
  TScopedTimeZone FZone{"UTC0"};
};

TDateTime At(int year, int month, int day, int hour, int minute, int second) {
  TDateTime date = 0, time = 0;
  EXPECT_TRUE(platform::TryEncodeDate(year, month, day, date));
  EXPECT_TRUE(platform::TryEncodeTime(hour, minute, second, 0, time));
  return date + time;
}

// Headers to fields

TEST_F(HeaderInfo, MissingHeadersEmptyTheirFields) {
  TIdRequestHeaderInfo request;
  EXPECT_EQ(request.Accept, "text/html, */*");
  EXPECT_EQ(request.UserAgent, "Mozilla/3.0 (compatible; Velmora)");
  EXPECT_EQ(request.ContentType, "text/html");
  Receive(request, {"Host: example"});
  EXPECT_EQ(request.Accept, "");
  EXPECT_EQ(request.UserAgent, "");
  EXPECT_EQ(request.ContentType, "");
  EXPECT_EQ(request.ContentLength(), -1);
  EXPECT_FALSE(request.ContentLengthKnown());
  EXPECT_EQ(request.Date, 0);
  EXPECT_EQ(request.Host, "example");
}

TEST_F(HeaderInfo, MapsEveryRequestHeader) {
  TIdRequestHeaderInfo r;
  Receive(r, {"accept: a", "Accept-Charset: b", "ACCEPT-ENCODING: c", "Accept-Language: d", "From: e",
              "Referer: f", "User-Agent: g", "\t g2", "Connection: h", "Content-Version: i",
              "Content-Encoding: j", "Content-Language: k", "Content-Type: l", "Pragma: m", "Host: n"});
  const std::vector<std::string> fields = {r.Accept, r.AcceptCharSet, r.AcceptEncoding, r.AcceptLanguage,
                                           r.From, r.Referer, r.UserAgent, r.Connection, r.ContentVersion,
                                           r.ContentEncoding, r.ContentLanguage, r.ContentType, r.Pragma, r.Host};
  EXPECT_EQ(fields, (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g g2", "h", "i", "j", "k", "l",
                                              "m", "n"}));
}

struct LengthCase {
  const char* value;
  std::int64_t length;
};
const LengthCase kLengths[] = {
    {" 42 ", 42},
    {"0", 0},
    {"abc", -1},
    {"", -1},
    {"4 2", -1},
    {"-5", -1},                   // a negative length is no length
    {"3000000000", 3000000000LL}, // past 2 GiB
};

TEST_F(HeaderInfo, ReadsContentLength) {
  for (const LengthCase& c : kLengths) {
    SCOPED_TRACE(c.value);
    TIdRequestHeaderInfo request;
    Receive(request, {(std::string("Content-Length:") + c.value).c_str()});
    EXPECT_EQ(request.ContentLength(), c.length);
    EXPECT_EQ(request.ContentLengthKnown(), c.length >= 0);
  }
}

struct RangeCase {
  const char* value;
  std::int64_t start, end;
};
const RangeCase kRanges[] = {
    {"bytes=0-99", 0, 99},
    {"bytes=100-200", 100, 200},
    {"bytes=500-", 500, 0},
    {"bytes=-500", 0, 500},
    {"bytes=x-y", 0, 0},
    {"bytes=5000000000-6000000000", 5000000000LL, 6000000000LL},
    {"bytes=1--5", 1, 0},         // a negative bound reads as none
    {"bytes=1-2 extra", 1, 2},
};

TEST_F(HeaderInfo, ReadsRangeBounds) {
  for (const RangeCase& c : kRanges) {
    SCOPED_TRACE(c.value);
    TIdRequestHeaderInfo request;
    Receive(request, {(std::string("Range: ") + c.value).c_str()});
    EXPECT_EQ(request.ContentRangeStart, c.start);
    EXPECT_EQ(request.ContentRangeEnd, c.end);
  }
}

TEST_F(HeaderInfo, ReadsDates) {
  TIdRequestHeaderInfo request;
  Receive(request, {"Date: Sun, 06 Nov 1994 08:49:37 GMT", "Last-Modified: Sun, 06 Nov 1994 08:49:37 +0100",
                    "Expires: not a date"});
  EXPECT_NEAR(request.Date, At(1994, 11, 6, 8, 49, 37), 1e-6);
  EXPECT_NEAR(request.LastModified, At(1994, 11, 6, 7, 49, 37), 1e-6);
  EXPECT_EQ(request.Expires, 0);
  Receive(request, {"Expires: Sun, 06 Nov 1994 08:49:37 GMT"});
  EXPECT_NEAR(request.Expires, At(1994, 11, 6, 8, 49, 37), 1e-6);
}

TEST_F(HeaderInfo, ReadsExpiresAsSecondsFromNow) {
  TIdRequestHeaderInfo request;
  Receive(request, {"Expires: 3600"});
  const TDateTime now = platform::LocalDateTime(std::time(nullptr));
  EXPECT_NEAR(request.Expires - now, 3600.0 / 86400, 5.0 / 86400);
  Receive(request, {"Expires: -1"});  // -1 is no number of seconds, and no date either
  EXPECT_EQ(request.Expires, 0);
}

TEST_F(HeaderInfo, ReadsResponseHeaders) {
  TIdResponseHeaderInfo response;
  Receive(response, {"Location: /x", "Server: s", "WWW-Authenticate: Basic realm=\"a\"",
                     "Content-Range: bytes 100-200/1000", "www-authenticate: Digest x",
                     "Proxy-Authenticate: Basic"});
  EXPECT_EQ(response.Location, "/x");
  EXPECT_EQ(response.Server, "s");
  EXPECT_EQ(response.WWWAuthenticate.Lines(), (std::vector<std::string>{"Basic realm=\"a\"", "Digest x"}));
  EXPECT_EQ(response.ProxyAuthenticate.Lines(), (std::vector<std::string>{"Basic"}));
  EXPECT_EQ(response.ContentRangeStart, 100);
  EXPECT_EQ(response.ContentRangeEnd, 200);
  response.ResetFields();
  EXPECT_TRUE(response.WWWAuthenticate.Lines().empty());
  EXPECT_EQ(response.Location, "");
}

// Fields to headers

TEST_F(HeaderInfo, BuildsSetFieldsInOrderWithCustomLinesLast) {
  TIdEntityHeaderInfo info;
  info.CustomHeaders.Add("X-Custom: 1");
  info.CustomHeaders.Add("Content-Type: not merged");
  info.Pragma = "no-cache";
  info.CacheControl = "private";
  info.Date = At(2007, 1, 1, 0, 0, 0);
  info.AssignContentLength(0);
  info.ContentType = "text/plain";
  info.Connection = "close";
  info.BuildHeaderLines();
  info.BuildHeaderLines();  // a second build starts afresh
  EXPECT_EQ(info.HeaderLines.Lines(),
            (std::vector<std::string>{"Connection: close", "Content-Type: text/plain", "Content-Length: 0",
                                      "Cache-control: private", "Date: Mon, 01 Jan 2007 00:00:00 GMT",
                                      "Pragma: no-cache", "X-Custom: 1", "Content-Type: not merged"}));
}

TEST_F(HeaderInfo, BuildsNothingForEmptyFields) {
  TIdEntityHeaderInfo info;
  info.ContentType.clear();
  info.BuildHeaderLines();
  EXPECT_EQ(info.HeaderLines.Count(), 0);
  info.AssignContentLength(5000000000LL);
  info.BuildHeaderLines();
  EXPECT_EQ(info.HeaderLines.Lines(), (std::vector<std::string>{"Content-Length: 5000000000"}));
}

TEST_F(HeaderInfo, ResetLeavesTheApplicationsFieldsAlone) {
  TIdEntityHeaderInfo info;
  info.CacheControl = "c";
  info.Pragma = "p";
  info.CustomHeaders.Add("X: y");
  info.AssignContentLength(7);
  info.ContentType = "x/y";
  info.ResetFields();
  EXPECT_EQ(info.CacheControl, "c");
  EXPECT_EQ(info.Pragma, "p");
  EXPECT_EQ(info.CustomHeaders.Count(), 1);
  EXPECT_EQ(info.ContentLength(), -1);
  EXPECT_TRUE(info.ContentLengthKnown());  // only AssignContentLength changes it
  EXPECT_EQ(info.ContentType, "text/html");
}

}  // namespace
