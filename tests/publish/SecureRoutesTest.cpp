// The redirect from plain HTTP to TLS never leads to another server than the one the client
// named, and the authority route answers only "/?ca".

#include "publish/SecureRoutes.h"

#include <gtest/gtest.h>

namespace {

struct RedirectCase {
  const char* requestLine;
  const char* host;
  const char* location;
};

const RedirectCase kRedirects[] = {
    {"GET /a/b.txt?x=1&y HTTP/1.1", "192.0.2.2:8443", "https://192.0.2.2:8443/a/b.txt?x=1&y"},  // target as sent
    {"GET /%E6%97%A5 HTTP/1.1", "studio.local", "https://studio.local/%E6%97%A5"},
    {"GET / HTTP/1.1", "[2001:db8::1]:8443", "https://[2001:db8::1]:8443/"},
    {"GET / HTTP/1.0", "", "https://10.0.0.1:8443/"},                                  // no Host: where it came in
    {"GET / HTTP/1.1", "evil.example/path", "https://10.0.0.1:8443/"},                 // no host name
    {"GET / HTTP/1.1", "a@evil.example", "https://10.0.0.1:8443/"},
    {"GET //evil.example/x HTTP/1.1", "studio", "https://studio/"},                    // no second host
    {"GET http://evil.example/ HTTP/1.1", "studio", "https://studio/"},               // absolute form
};

TEST(SecureRoutes, RedirectKeepsHostAndTargetOfThisServerOnly) {
  for (const RedirectCase& c : kRedirects) {
    SCOPED_TRACE(std::string(c.requestLine) + " / " + c.host);
    TIdHTTPRequestInfo request;
    request.RequestLine = c.requestLine;
    request.Host = c.host;
    TIdHTTPResponseInfo response(nullptr);
    AnswerSecureRedirect(request, response, "10.0.0.1:8443");
    EXPECT_EQ(response.StatusCode(), 301);
    EXPECT_EQ(response.Location, c.location);
  }
}

TEST(SecureRoutes, AuthorityRouteIsGetOrHeadOfTheRootWithQueryCa) {
  const struct {
    const char* command;
    const char* document;
    const char* query;
    bool asks;
  } cases[] = {
      {"GET", "/", "ca", true},       {"HEAD", "/", "ca", true},      {"POST", "/", "ca", false},
      {"GET", "/sub/", "ca", false},  {"GET", "/", "ca=1", false},    {"GET", "/", "", false},
  };
  for (const auto& c : cases) {
    TIdHTTPRequestInfo request;
    request.Command = c.command;
    request.Document = c.document;
    request.QueryText = c.query;
    EXPECT_EQ(IsAuthorityRequest(request), c.asks) << c.command << " " << c.document << "?" << c.query;
  }
  TIdHTTPResponseInfo response(nullptr);
  AnswerAuthority(response, std::string("\x30\x82\x00", 3));
  EXPECT_EQ(response.ContentType, "application/x-x509-ca-cert");
  EXPECT_EQ(response.BodyText, std::string("\x30\x82\x00", 3));
  EXPECT_NE(response.ContentDisposition.find("filename=\"velmora-ca.crt\""), std::string::npos);
}

}  // namespace
