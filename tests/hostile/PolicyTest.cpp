// The headless program's policies against clients that try to misuse them: redirects that would
// lead to another host, password guessing, paths that would forge the log, and credentials that
// are not credentials. The shared server has no password; the guessing cases start their own.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hostile/HostileEnvironment.h"
#include "hostile/LoopbackClient.h"
#include "support/TestSockets.h"

namespace {

using namespace hostile;
using std::chrono::seconds;

constexpr seconds kWait{5};
constexpr long kGuardKiB = 256 * kKiBPerMiB;

std::string Header(const std::string& answer, const std::string& name) {
  const std::string key = "\r\n" + name + ": ";
  const std::size_t start = answer.find(key);
  if (start == std::string::npos) return "(none)";
  const std::size_t value = start + key.size();
  return answer.substr(value, answer.find('\r', value) - value);
}

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find('\r')); }

// Whether the server's log shows text within a few seconds (it writes each line as it comes).
bool LogShows(const TServerProcess& server, const std::string& text) {
  const auto deadline = TClock::now() + kWait;
  while (server.Output().find(text) == std::string::npos) {
    if (TClock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class Policy : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(THostileEnvironment::Server().Running()); }
  TServerProcess& Server() { return THostileEnvironment::Server(); }
  TExchange Get(const std::string& target, const std::string& headers = "") {
    return Exchange(Server().Port(), Request("GET", target, headers), kWait);
  }
};

// A server with a password over a root of its own, for the cases that lock addresses out.
class PasswordServer : public testing::Test {
protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    std::string folder = (fs::temp_directory_path() / "velmora-policy-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    FFolder = folder;
    fs::create_directory(FFolder / "root");
    std::ofstream(FFolder / "root" / "a.txt") << "hello";
    FServer = std::make_unique<TServerProcess>(VELMORA_BINARY, (FFolder / "root").string(), FFolder.string(),
                                               testsock::FreePort(), kGuardKiB,
                                               std::vector<std::string>{"--user", "user", "--password", "Pass"});
    ASSERT_TRUE(FServer->Start(1024)) << FServer->Error();
  }
  void TearDown() override {
    if (FServer) {
      EXPECT_EQ(FServer->Stop(), 0) << FServer->Error();
    }
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
  }
  TExchange Get(const std::string& headers, const std::string& source) {
    return Exchange(FServer->Port(), Request("GET", "/a.txt", headers), kWait, source);
  }

  std::filesystem::path FFolder;
  std::unique_ptr<TServerProcess> FServer;
};

const std::string kWrong = "Authorization: Basic dXNlcjpwYXNz\r\n";  // user:pass
const std::string kRight = "Authorization: Basic dXNlcjpQYXNz\r\n";  // user:Pass

TEST_F(Policy, RedirectsNeverLeaveThisServer) {
  struct Case {
    const char* target;
    const char* location;
  };
  const Case cases[] = {
      {"/%2Fevil.example%2F..", "/"},   {"//evil.example/..", "/"},  {"/\\evil.example/..", "/"},
      {"/%5Cevil.example%2F..", "/"},   {"/%5C%5Cevil.example/..", "/"}, {"//a", "/a/"},
      {"/%2F%2Fa", "/a/"},              {"/.%2F/a", "/a/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const TExchange seen = Get(c.target);
    EXPECT_EQ(StatusLine(seen.Answer), "HTTP/1.1 301 Moved Permanently");
    EXPECT_EQ(Header(seen.Answer, "Location"), "http://127.0.0.1" + std::string(c.location));
  }
}

TEST_F(Policy, TheLogShowsControlsAsEscapes) {
  // U+009B (a terminal's control sequence introducer), U+202E (right-to-left override), U+2028.
  Get("/policy-%C2%9B2J-%E2%80%AEtxt.exe-%E2%80%A8-%FF");
  EXPECT_TRUE(LogShows(Server(), " /policy-\\u{009B}2J-\\u{202E}txt.exe-\\u{2028}-\\xFF 127.0.0.1\n"))
      << Server().Output().substr(Server().Output().rfind("policy") - 40);
  EXPECT_EQ(Server().Output().find("\xC2\x9B"), std::string::npos);
}

TEST_F(Policy, MalformedCredentialsAreIgnoredWithoutAPassword) {
  for (const char* header : {"Authorization: Bearer x\r\n", "Authorization: Basic abc\r\n",
                             "Authorization: Basic !!!!\r\n", "Authorization: Basic dXNlcg==\r\n"}) {
    SCOPED_TRACE(header);
    EXPECT_EQ(StatusLine(Get(kPlainPath, header).Answer), "HTTP/1.1 200 OK(&O)");
  }
}

TEST_F(PasswordServer, GuessingIsLockedOutPerAddress) {
  // Malformed credentials ask for credentials, and count as no guess.
  for (const char* header : {"Authorization: Bearer x\r\n", "Authorization: Basic abc\r\n",
                             "Authorization: Basic !!!!\r\n", "Authorization: Basic dXNlcg==\r\n"}) {
    SCOPED_TRACE(header);
    const TExchange seen = Get(header, "127.0.0.1");
    EXPECT_EQ(StatusLine(seen.Answer), "HTTP/1.1 401 Unauthorized");
    EXPECT_EQ(Header(seen.Answer, "WWW-Authenticate"), "Basic realm=\"Velmora User Authentication.\"");
  }
  const auto guessStart = TClock::now();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(StatusLine(Get(kWrong, "127.0.0.1").Answer), "HTTP/1.1 401 Unauthorized");
  const double guessMs = std::chrono::duration<double, std::milli>(TClock::now() - guessStart).count();
  for (const std::string& headers : {kWrong, kRight}) {
    const TExchange seen = Get(headers, "127.0.0.1");
    EXPECT_EQ(StatusLine(seen.Answer), "HTTP/1.1 429 Too Many Requests");
    const std::string retryAfter = Header(seen.Answer, "Retry-After");
    EXPECT_TRUE(retryAfter == "60" || retryAfter == "59") << retryAfter;
  }
  // Another address gets in at once with the right password, and may still guess.
  const TExchange other = Get(kRight, "127.0.0.2");
  EXPECT_EQ(StatusLine(other.Answer), "HTTP/1.1 200 OK(&O)");
  EXPECT_TRUE(other.Answer.ends_with("\r\n\r\nhello"));
  EXPECT_EQ(StatusLine(Get(kWrong, "127.0.0.2").Answer), "HTTP/1.1 401 Unauthorized");
  // One log line when the lock-out starts, naming the address.
  const std::string line = "(too many failed logins: refused for 60 s) 127.0.0.1\n";
  EXPECT_TRUE(LogShows(*FServer, line)) << FServer->Output();
  const std::string output = FServer->Output();
  EXPECT_EQ(output.find(line), output.rfind(line));
  Report(Format("guessing: 10 wrong passwords from 127.0.0.1 answered in %.1f ms, then 429 with Retry-After; "
                "127.0.0.2 served with the right password at once",
                guessMs));
}

}  // namespace
