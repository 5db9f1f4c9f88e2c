#include "publish/AccessLogLine.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/ScopedTimeZone.h"

namespace {

constexpr std::time_t kMoment = 1796760563;  // 2026-12-08 20:09:23 UTC

class AccessLogLineTest : public ::testing::Test {
protected:
  AccessLogLineTest() {
    Request.RemoteIP = "192.0.2.7";
    Request.RequestLine = "GET /docs/a.txt HTTP/1.1";
    Request.Referer = "http://192.0.2.1:8080/docs/";
    Request.UserAgent = "curl/7.88.1";
    Outcome = {200, 1234, kMoment, 5678};
  }
  std::string Line() { return AccessLogLine(Request, Outcome); }

  TScopedTimeZone Zone{"UTC0"};
  TIdHTTPRequestInfo Request;
  TIdHTTPRequestOutcome Outcome;
};

TEST_F(AccessLogLineTest, CombinedFormatWithTheMicrosecondsLast) {
  EXPECT_EQ(Line(), "192.0.2.7 - - [08/Dec/2026:20:09:23 +0000] \"GET /docs/a.txt HTTP/1.1\" 200 1234 "
                    "\"http://192.0.2.1:8080/docs/\" \"curl/7.88.1\" 5678");
  // A failed login shows its status and the name it tried; nothing sent and empty headers are "-".
  Request.AuthUser = "alice";
  Request.Referer.clear();
  Request.UserAgent.clear();
  Outcome.StatusCode = 401;
  Outcome.BodyBytesSent = 0;
  EXPECT_EQ(Line(), "192.0.2.7 - alice [08/Dec/2026:20:09:23 +0000] \"GET /docs/a.txt HTTP/1.1\" 401 - \"-\" \"-\" 5678");
}

TEST_F(AccessLogLineTest, TimeIsLocalWithItsOffset) {
  const auto timeOf = [this] {
    const std::string line = Line();
    return line.substr(line.find('['), line.find(']') + 1 - line.find('['));
  };
  Zone.Use("JST-9");
  EXPECT_EQ(timeOf(), "[09/Dec/2026:05:09:23 +0900]");
  Zone.Use("EST5");
  EXPECT_EQ(timeOf(), "[08/Dec/2026:15:09:23 -0500]");
  Zone.Use("<+0530>-5:30");
  EXPECT_EQ(timeOf(), "[09/Dec/2026:01:39:23 +0530]");
  Zone.Use("<-0330>3:30");
  EXPECT_EQ(timeOf(), "[08/Dec/2026:16:39:23 -0330]");
}

TEST_F(AccessLogLineTest, WhatTheClientSentCannotEndAFieldOrTheLine) {
  Request.RequestLine = "GET /a\"b\\c\x7F\xE6\x97\xA5 HTTP/1.1";
  Request.Referer = std::string("x\r\ny\tz\0end", 10);
  Request.UserAgent = "\" 200 0 \"-\" \"forged";
  Request.AuthUser = "a b[c]\"";
  EXPECT_EQ(Line(), "192.0.2.7 - a\\x20b\\x5Bc\\x5D\\x22 [08/Dec/2026:20:09:23 +0000] "
                    "\"GET /a\\x22b\\x5Cc\\x7F\\xE6\\x97\\xA5 HTTP/1.1\" 200 1234 \"x\\x0D\\x0Ay\\x09z\\x00end\" "
                    "\"\\x22 200 0 \\x22-\\x22 \\x22forged\" 5678");
}

TEST_F(AccessLogLineTest, ALongUserAgentStaysWholeOnOneLine) {
  std::string agent;
  for (int i = 0; agent.size() < 2048; ++i) agent += i % 50 == 0 ? "\n\"" : "Mozilla ";
  Request.UserAgent = agent;
  const std::string line = Line();
  EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
  // The three quoted fields keep their own quotes only; the agent is the last of them, whole.
  std::vector<std::size_t> quotes;
  for (std::size_t at = 0; (at = line.find('"', at)) != std::string::npos; ++at) quotes.push_back(at);
  ASSERT_EQ(quotes.size(), 6u);
  EXPECT_EQ(line.substr(quotes[5]), "\" 5678");
  std::string unescaped = line.substr(quotes[4] + 1, quotes[5] - quotes[4] - 1);
  for (std::size_t at = 0; (at = unescaped.find("\\x", at)) != std::string::npos; ++at)
    unescaped.replace(at, 4, 1, static_cast<char>(std::stoi(unescaped.substr(at + 2, 2), nullptr, 16)));
  EXPECT_EQ(unescaped, agent);
}

}  // namespace
