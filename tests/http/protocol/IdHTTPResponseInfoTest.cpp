#include "http/protocol/IdHTTPResponseInfo.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

TEST(TIdHTTPResponseInfo, FreshRecordDefaults) {
  const TIdHTTPResponseInfo response(nullptr);
  EXPECT_EQ(response.StatusCode(), 200);
  EXPECT_EQ(response.StatusText(), "OK(&O)");
  EXPECT_EQ(response.ContentType, "text/html");
  EXPECT_EQ(response.ContentLength(), -1);
  EXPECT_FALSE(response.ContentLengthKnown());
  EXPECT_EQ(response.Server, "Velmora/1.0");
  EXPECT_EQ(response.ServerSoftware, "Velmora/1.0");
  EXPECT_TRUE(response.OwnsBodyStream);
  EXPECT_FALSE(response.HeaderWritten);
  EXPECT_FALSE(response.CloseAfterResponse());
  EXPECT_EQ(response.Connection, "");  // no Connection line until the cycle decides
  EXPECT_EQ(response.BodyStream(), nullptr);
  EXPECT_FALSE(response.HeaderLines.FoldOnPut);
}

struct StatusCase {
  int code;
  const char* text;
};
const StatusCase kStatuses[] = {
    {100, "次へ"}, {200, "OK(&O)"}, {201, "作成時刻"}, {206, "Partial Content"},
    {301, "Moved Permanently"}, {302, "Moved Temporarily"}, {304, "Not Modified"}, {401, "Unauthorized"},
    {404, "Not Found"}, {416, "Range Not Satisfiable"}, {429, "Too Many Requests"},
    {405, "Method not allowed"}, {413, "Request Entity To Long"},
    {414, "Request-URI Too Long. 256 Chars max"}, {500, "Internal Server Error"},
    {501, "実装されていません。"}, {504, "Gateway timeout"}, {505, "HTTP version not supported"},
    {402, "Unknown Response Code"}, {418, "Unknown Response Code"}, {0, "Unknown Response Code"},
    {-1, "Unknown Response Code"},
};

TEST(TIdHTTPResponseInfo, StatusCodeCarriesItsText) {
  TIdHTTPResponseInfo response(nullptr);
  for (const StatusCase& c : kStatuses) {
    SCOPED_TRACE(c.code);
    response.SetStatusCode(c.code);
    EXPECT_EQ(response.StatusCode(), c.code);
    EXPECT_EQ(response.StatusText(), c.text);
  }
}

TEST(TIdHTTPResponseInfo, NotFoundAlwaysCloses) {
  TIdHTTPResponseInfo response(nullptr);
  response.SetCloseAfterResponse(false);
  EXPECT_EQ(response.Connection, "keep-alive");
  response.SetStatusCode(500);
  EXPECT_FALSE(response.CloseAfterResponse());
  response.SetStatusCode(404);
  EXPECT_TRUE(response.CloseAfterResponse());
  EXPECT_EQ(response.Connection, "close");
  response.SetStatusCode(200);
  EXPECT_TRUE(response.CloseAfterResponse());
}

TEST(TIdHTTPResponseInfo, NeverFoldsItsHeaderLines) {
  TIdHTTPResponseInfo response(nullptr);
  response.ContentType = "text/plain; " + std::string(100, 'x') + " " + std::string(100, 'y');
  response.BuildHeaderLines();
  EXPECT_EQ(response.HeaderLines.ValueOf("Content-Type"), response.ContentType);
  EXPECT_EQ(response.HeaderLines.Count(), 2);  // Content-Type and Server, neither folded
}

// Body stream ownership

// A stream that tells when it is freed.
class WatchedStream : public TIdStringStream {
public:
  explicit WatchedStream(bool& freed) : FFreed(freed) {}
  ~WatchedStream() override { FFreed = true; }

private:
  bool& FFreed;
};

TEST(TIdHTTPResponseInfo, FreesAnOwnedBodyStream) {
  bool freed = false;
  {
    TIdHTTPResponseInfo response(nullptr);
    response.SetBodyStream(std::make_unique<WatchedStream>(freed));
    EXPECT_NE(response.BodyStream(), nullptr);
  }
  EXPECT_TRUE(freed);
}

TEST(TIdHTTPResponseInfo, OnlyForgetsAStreamItDoesNotOwn) {
  bool freed = false;
  WatchedStream stream(freed);
  {
    TIdHTTPResponseInfo response(nullptr);
    response.OwnsBodyStream = false;
    response.SetBodyStream(&stream);
    response.SetBodyStream(&stream);  // the same stream again changes nothing
    EXPECT_EQ(response.BodyStream(), &stream);
    response.ReleaseBodyStream();
    EXPECT_EQ(response.BodyStream(), nullptr);
    response.SetBodyStream(&stream);
  }
  EXPECT_FALSE(freed);
}

TEST(TIdHTTPResponseInfo, ReplacingTheBodyStreamReleasesTheOldOne) {
  bool firstFreed = false, secondFreed = false;
  TIdHTTPResponseInfo response(nullptr);
  response.SetBodyStream(std::make_unique<WatchedStream>(firstFreed));
  response.SetBodyStream(std::make_unique<WatchedStream>(secondFreed));
  EXPECT_TRUE(firstFreed);
  EXPECT_FALSE(secondFreed);
  response.ReleaseBodyStream();
  EXPECT_TRUE(secondFreed);
}

}  // namespace
