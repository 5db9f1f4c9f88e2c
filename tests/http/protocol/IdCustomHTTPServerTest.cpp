// The request cycle over real loopback connections: request lines, bodies, credentials,
// failures that end a connection without an answer, file responses and load.

#include "http/protocol/HttpServerFixture.h"
#include "http/io/IdFileStream.h"
#include "support/ScopedTimeZone.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using testhttp::Exchange;
using testhttp::ExchangeRaw;
using testhttp::Head;
using testhttp::Request;
using testsock::TClient;

// The lines a file answer adds after Server for a file of that name.
std::string FileLines(const std::string& name) {
  return std::string("Accept-Ranges: bytes\r\n") + kFileLastModified + DispositionLine(name);
}

class HttpCycleTest : public THttpServerFixture {
protected:
  TScopedTimeZone Zone{"JST-9"};
  HttpCycleTest() {
    FFolder = std::filesystem::temp_directory_path() / ("velmora-cycle-" + std::to_string(::getpid()));
    std::filesystem::create_directories(FFolder);
  }
  ~HttpCycleTest() override {
    Server.SetActive(false);  // before the zone and the folder go
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
  }

  // A file of size bytes with a pattern that shows misplaced blocks, last written at kFileTime.
  std::string File(const std::string& name, std::size_t size) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>('a' + (i * 7 + i / 32768) % 26);
    std::ofstream(FFolder / name, std::ios::binary) << content;
    const timespec times[2] = {{kFileTime, 0}, {kFileTime, 0}};
    ::utimensat(AT_FDCWD, PathOf(name).c_str(), times, 0);
    return content;
  }
  std::string PathOf(const std::string& name) const { return (FFolder / name).string(); }

  // Serves the file named by the document through SendFileResponse.
  void ServeFiles() {
    Handler = [this](TIdPeerThread& thread, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
      response.ContentType = "application/x-test";
      Server.SendFileResponse(thread, response, PathOf(request.Document.substr(1)));
    };
  }

private:
  std::filesystem::path FFolder;
};

// Request lines
struct LineCase {
  const char* request;
  const char* command;
  const char* document;
  const char* version;
};
const LineCase kLines[] = {
    {"GET /a%20b/c.txt HTTP/1.1\r\n\r\n", "GET", "/a b/c.txt", "HTTP/1.1"},
    {"get / HTTP/1.0\r\n\r\n", "GET", "/", "HTTP/1.0"},                       // any case
    {"GET /\r\n\r\n", "GET", "", "/"},                                           // one blank: no target
    {"HEAD /a b c HTTP/1.1\r\n\r\n", "HEAD", "/a b c", "HTTP/1.1"},             // blanks inside
    {"GET http://example.test:8/d/e.txt HTTP/1.1\r\n\r\n", "GET", "/d/e.txt", "HTTP/1.1"},
    {"GET /x?y=1&z=2 HTTP/1.1\r\n\r\n", "GET", "/x", "HTTP/1.1"},
};

TEST_F(HttpCycleTest, SplitsTheRequestLine) {
  Handler = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& response) { response.BodyText = "ok"; };
  Start();
  for (const LineCase& c : kLines) {
    SCOPED_TRACE(c.request);
    EXPECT_EQ(Exchange(Port(), c.request).Body, std::string_view(c.command) == "HEAD" ? "" : "ok");
    const TSeenRequest seen = Seen().back();
    EXPECT_EQ(seen.Command, c.command);
    EXPECT_EQ(seen.Document, c.document);
    EXPECT_EQ(seen.Version, c.version);
    EXPECT_EQ(seen.RemoteIP, "127.0.0.1");
  }
  EXPECT_EQ(Seen()[4].Host, "example.test:8");  // an absolute target's authority, port and all
  EXPECT_EQ(Seen()[5].QueryText, "y=1&z=2");
}

// Requests that end the connection without an answer
TEST_F(HttpCycleTest, MalformedRequestsAreClosedWithoutAnAnswer) {
  std::atomic<int> others{0};
  Server.OnCommandOther = [&others](TIdPeerThread&, const std::string& command, const std::string& target,
                                    const std::string& version) {
    if (command == "OPTIONS" && target == "*" && version == "HTTP/1.1") ++others;
  };
  Start();
  const std::string requests[] = {
      "GET/\r\n\r\n",                                                   // no blank
      "\r\n",                                                           // an empty line
      "GET /" + std::string(16385, 'a') + " HTTP/1.1\r\n\r\n",          // past the line limit
      "OPTIONS * HTTP/1.1\r\n\r\n",                                     // another method
  };
  for (const std::string& request : requests) {
    SCOPED_TRACE(request.substr(0, 40));
    EXPECT_TRUE(Exchange(Port(), request).Closed);
  }
  EXPECT_TRUE(Seen().empty());
  EXPECT_EQ(others, 1);
}

TEST_F(HttpCycleTest, OneRequestPerConnection) {
  Handler = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& response) { response.BodyText = "one"; };
  Start();
  const auto answer = Exchange(Port(), Request("GET", "/a") + Request("GET", "/b"));
  EXPECT_EQ(answer.Body, "one");
  EXPECT_EQ(Seen().size(), 1u);
}

TEST_F(HttpCycleTest, HandlerSendsAreHeldAndAKeptConnectionGoesOn) {
  Server.KeepAlive = true;
  std::atomic<int> held{-1};  // written on the connection thread
  Handler = [&held](TIdPeerThread& thread, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& response) {
    int cork = 0;
    socklen_t length = sizeof cork;
    ::getsockopt(thread.Connection()->SocketHandle(), IPPROTO_TCP, TCP_CORK, &cork, &length);
    held = cork;
    response.BodyText = "kept";
  };
  Start();
  TClient client(Port());
  for (const char* document : {"/a", "/b"}) {
    SCOPED_TRACE(document);
    held = -1;
    ASSERT_TRUE(client.Send(Request("GET", document)));
    // Byte by byte up to the body: the connection stays open, so nothing marks the end but the body.
    std::string answer;
    while (answer.find("\r\n\r\nkept") == std::string::npos) {
      const std::string next = client.Receive(1);
      if (next.empty()) break;
      answer += next;
    }
    EXPECT_NE(answer.find("Connection: keep-alive\r\n"), std::string::npos) << answer;
    EXPECT_TRUE(answer.ends_with("\r\n\r\nkept")) << answer;
    EXPECT_EQ(held, 1);
  }
}

// A small file waits with its head for whole segments; a large one streams as it is read.
TEST_F(HttpCycleTest, OnlySmallFilesAreHeldBack) {
  const std::string small = File("small", 64 * 1024);
  const std::string large = File("large", 64 * 1024 + 1);
  std::atomic<int> held{-1};  // written on the connection thread
  Handler = [this, &held](TIdPeerThread& thread, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
    Server.SendFileResponse(thread, response, PathOf(request.Document.substr(1)));
    int cork = -1;
    socklen_t length = sizeof cork;
    ::getsockopt(thread.Connection()->SocketHandle(), IPPROTO_TCP, TCP_CORK, &cork, &length);
    held = cork;
  };
  Start();
  EXPECT_EQ(Exchange(Port(), Request("GET", "/small")).Body, small);
  EXPECT_EQ(held, 1);
  EXPECT_EQ(Exchange(Port(), Request("GET", "/large")).Body, large);
  EXPECT_EQ(held, 0);
}

// Bodies
TEST_F(HttpCycleTest, APostBodyIsReadByItsLengthOnly) {
  Handler = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& response) { response.BodyText = "ok"; };
  Start();
  EXPECT_EQ(Exchange(Port(), Request("POST", "/", "Content-Length: 5\r\n") + "abcdefgh").Body, "ok");
  EXPECT_EQ(Seen().back().PostText, "abcde");
  // Regression: a POST without a length was read until the client closed, so a client that never
  // closed held the connection and its memory without end. Without a length there is no body.
  TClient client(Port());
  ASSERT_TRUE(client.Send(Request("POST", "/") + "more and more"));
  EXPECT_EQ(testhttp::SplitAnswer(client.ReceiveAll()).Body, "ok");
  EXPECT_EQ(Seen().back().PostText, "");
}

// Requests refused before the handler runs: closed without an answer, reported to OnException.
struct RefusalCase {
  const char* what;
  std::string request;
  const char* error;
};

TEST_F(HttpCycleTest, RequestsPastTheLimitsAreRefused) {
  Start();
  const std::string oneMiB = std::to_string(1 << 20);
  const RefusalCase cases[] = {
      {"101 header lines", Request("GET", "/", [] {
         std::string lines;
         for (int i = 0; i < 101; ++i) lines += "X-" + std::to_string(i) + ": a\r\n";
         return lines;
       }()), "EIdHTTPHeadTooLarge"},
      {"head over 64 KiB", Request("GET", "/", [] {
         std::string lines;
         for (int i = 0; i < 5; ++i) lines += "X: " + std::string(16000, 'a') + "\r\n";
         return lines;
       }()), "EIdHTTPHeadTooLarge"},
      {"body over 1 MiB", Request("POST", "/", "Content-Length: " + std::to_string((1 << 20) + 1) + "\r\n"),
       "EIdHTTPBodyTooLarge"},
      {"chunked body", Request("POST", "/", "Transfer-Encoding: chunked\r\n") + "3\r\nabc\r\n0\r\n\r\n",
       "EIdHTTPTransferEncodingNotSupported"},
      {"1,001 parameters", Request("GET", "/?" + std::string(1000, '&')), "EIdHTTPTooManyParameters"},
      {"1,001 cookies", Request("GET", "/", "Cookie: " + std::string(1000, ';') + "\r\n"),
       "EIdHTTPTooManyParameters"},
      {"raw NUL", std::string("GET /.env\0/a HTTP/1.0\r\n\r\n", 25), "EIdHTTPInvalidRequestTarget"},
      {"raw TAB", "GET /a\tb HTTP/1.0\r\n\r\n", "EIdHTTPInvalidRequestTarget"},
      {"decoded control", Request("GET", "/a%01b"), "EIdHTTPInvalidRequestTarget"},
      {"decoded DEL", Request("GET", "/a%7F"), "EIdHTTPInvalidRequestTarget"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(Exchange(Port(), c.request).Closed);
    ASSERT_TRUE(testsock::Eventually([&] { return !Errors().empty(); }));
    EXPECT_EQ(Errors().back(), c.error);
    ClearErrors();
  }
  EXPECT_TRUE(Seen().empty());
  // Exactly at the limits, requests go through.
  Handler = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& response) { response.BodyText = "ok"; };
  EXPECT_EQ(Exchange(Port(), Request("POST", "/", "Content-Length: " + oneMiB + "\r\n") +
                                 std::string(1 << 20, 'b')).Body, "ok");
  EXPECT_EQ(Seen().back().PostText.size(), 1u << 20);
  EXPECT_EQ(Exchange(Port(), Request("GET", "/?" + std::string(999, '&'))).Body, "ok");
}

TEST_F(HttpCycleTest, AClientOverTheConnectionLimitGetsAShort503) {
  Server.MaxConnections = 1;
  Start();
  TClient holder(Port());
  ASSERT_TRUE(testsock::Eventually([&] { return Server.PeerThreadCount() == 1; }));
  // Turned away as soon as it is accepted, before its request could be read.
  EXPECT_EQ(TClient(Port()).ReceiveAll(),
            "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
  EXPECT_TRUE(Seen().empty());
}

TEST_F(HttpCycleTest, AHeadMustArriveInTime) {
  Server.HeadTimeout = 300;
  Handler = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& response) { response.BodyText = "ok"; };
  Start();
  // A head that trickles in, one line at a time, still has to be whole in time.
  TClient slow(Port());
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(slow.Send("GET / HTTP/1.1\r\n"));
  for (int i = 0; i < 10 && slow.Send("X-Slow: a\r\n"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(slow.ReceiveAll(), "");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  ASSERT_TRUE(testsock::Eventually([&] { return !Errors().empty(); }));
  EXPECT_EQ(Errors().front(), "EIdReadTimeout");
  // So does a body that stops.
  TClient stalled(Port());
  ASSERT_TRUE(stalled.Send(Request("POST", "/", "Content-Length: 10\r\n") + "abc"));
  EXPECT_EQ(stalled.ReceiveAll(), "");
  EXPECT_TRUE(Seen().empty());
  EXPECT_EQ(Exchange(Port(), Request("GET", "/")).Body, "ok");
}

TEST_F(HttpCycleTest, AnAnswerThatCannotBeSentEnds) {
  Server.SendTimeout = 300;
  Handler = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& response) {
    response.BodyText = std::string(64 << 20, 'x');
  };
  Start();
  TClient reader(Port());
  const int small = 4096;
  ::setsockopt(reader.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  ASSERT_TRUE(reader.Send(Request("GET", "/")));
  // The client reads nothing: once the socket's buffers are full, the send makes no progress.
  ASSERT_TRUE(testsock::Eventually([&] { return !Errors().empty(); }));
  EXPECT_EQ(Errors().front(), "EIdSocketError");
}

// Credentials
TEST_F(HttpCycleTest, BasicCredentials) {
  Start();
  struct CredentialCase {
    const char* header;
    const char* user;
    const char* password;
  };
  const CredentialCase cases[] = {
      {"Authorization: Basic dXNlcjpwYTpzcw==\r\n", "user", "pa:ss"},  // "user:pa:ss"
      {"Authorization: basic dTpw\r\n", "u", "p"},                     // "u:p", scheme in any case
      {"Authorization: Basic  dTpw \r\n", "u", "p"},                   // blanks around the token
      {"Authorization: Basic Og==\r\n", "", ""},                       // ":"
  };
  for (const CredentialCase& c : cases) {
    SCOPED_TRACE(c.header);
    Exchange(Port(), Request("GET", "/", c.header));
    const TSeenRequest seen = Seen().back();
    EXPECT_TRUE(seen.AuthPresent);
    EXPECT_EQ(seen.AuthUser, c.user);
    EXPECT_EQ(seen.AuthPassword, c.password);
  }
}

// Regression: a header that was not Basic, or not base64, closed the connection unanswered.
TEST_F(HttpCycleTest, MalformedCredentialsAreNoCredentials) {
  Handler = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& response) { response.BodyText = "ok"; };
  Start();
  for (const char* header : {
           "Authorization: Bearer x\r\n",
           "Authorization: Digest username=\"u\"\r\n",
           "Authorization: Basic\r\n",
           "Authorization: Basic abc\r\n",        // uneven
           "Authorization: Basic dTpw=\r\n",      // uneven after the fill
           "Authorization: Basic dT*w\r\n",       // outside the alphabet
           "Authorization: Basic d===\r\n",       // three fill characters
           "Authorization: Basic dQ==dTpw\r\n",   // fill inside
           "Authorization: Basic dXNlcg==\r\n",   // "user", no colon
           "Authorization: Basicdtpw\r\n",
       }) {
    SCOPED_TRACE(header);
    EXPECT_EQ(Exchange(Port(), Request("GET", "/", header)).Body, "ok");
    const TSeenRequest seen = Seen().back();
    EXPECT_FALSE(seen.AuthPresent);
    EXPECT_EQ(seen.AuthUser, "");
    EXPECT_EQ(seen.AuthPassword, "");
  }
}

// The handler's failures
// Regression: the body of a 500 answer was the error's message, which could show server paths.
TEST_F(HttpCycleTest, HandlerErrorAnswers500WithTheFixedPage) {
  Handler = [](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo&) {
    throw EFOpenError("Cannot open file \"/home/user/secret\".");
  };
  Start();
  const auto answer = Exchange(Port(), Request("GET", "/"));
  const std::string page = "<HTML><BODY><B>500 Internal Server Error</B></BODY></HTML>";
  EXPECT_EQ(answer.Head, Head("HTTP/1.1 500 Internal Server Error", "text/html", static_cast<long long>(page.size())));
  EXPECT_EQ(answer.Body, page);
  EXPECT_EQ(Errors(), std::vector<std::string>{"EFOpenError"});
  const auto head = Exchange(Port(), Request("HEAD", "/"));  // the same head, no body
  EXPECT_EQ(head.Head, answer.Head);
  EXPECT_EQ(head.Body, "");
}

// Files
TEST_F(HttpCycleTest, FilesGoOutWholeAtTheBlockEdges) {
  ServeFiles();
  Start();
  for (std::size_t size : {0u, 1u, 32768u, 32769u, 100000u}) {
    SCOPED_TRACE(size);
    const std::string name = "f" + std::to_string(size);
    const std::string content = File(name, size);
    const auto answer = Exchange(Port(), Request("GET", "/" + name));
    EXPECT_EQ(answer.Head, Head("HTTP/1.1 200 OK(&O)", "application/x-test", static_cast<long long>(size), FileLines(name)));
    EXPECT_EQ(answer.Body, content);
  }
}

TEST_F(HttpCycleTest, FileWithoutTypeTakesTheServersTable) {
  File("blob", 3);
  Handler = [this](TIdPeerThread& thread, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& response) {
    response.ContentType.clear();
    Server.SendFileResponse(thread, response, PathOf("blob"));
  };
  Start();
  EXPECT_EQ(Exchange(Port(), Request("GET", "/")).Head,
            Head("HTTP/1.1 200 OK(&O)", "application/octet-stream", 3, FileLines("blob")));
}

TEST_F(HttpCycleTest, FileThatCannotBeOpenedLeavesTheRecordUnwritten) {
  std::atomic<bool> refused{false};  // set on the connection thread
  Handler = [this, &refused](TIdPeerThread& thread, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& response) {
    try {
      Server.SendFileResponse(thread, response, PathOf("missing"));
    } catch (const EFOpenError& e) {
      refused = e.what() == "Cannot open file \"" + PathOf("missing") + "\". No such file or directory";
    }
  };
  Start();
  EXPECT_EQ(Exchange(Port(), Request("GET", "/")).Head, Head("HTTP/1.1 200 OK(&O)", "text/html", -1));
  EXPECT_TRUE(refused);
}

TEST(TIdReadOnlyFileStream, RefusesSpecialFilesWithoutBlocking) {
  const std::string fifo = std::filesystem::temp_directory_path() / ("velmora-fifo-" + std::to_string(::getpid()));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(FileSizeOf(fifo), EFOpenError);
  EXPECT_THROW(TIdReadOnlyFileStream{fifo}, EFOpenError);
  std::remove(fifo.c_str());
}

TEST(TIdTCPConnection, WriteFromFileNeedsAFile) {
  const std::string folder = std::filesystem::temp_directory_path().string();
  TIdTCPConnection connection;
  for (const std::string& name : {folder, folder + "/velmora-never-made"}) {
    try {
      connection.WriteFromFile(name);
      FAIL() << name << " was sent";
    } catch (const EIdFileNotFound& error) {
      EXPECT_EQ(std::string(error.what()), "File \"" + name + "\" not found");
    }
  }
  // One that exists but cannot be opened for sending is not reported as missing.
  const std::string fifo = folder + "/velmora-fifo-send-" + std::to_string(::getpid());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(connection.WriteFromFile(fifo), EFOpenError);
  std::remove(fifo.c_str());
}

// Clients that go away, and many at once
TEST_F(HttpCycleTest, ResetDuringDownloadLeavesTheServerServing) {
  const std::string big = File("big", 8 << 20);
  File("small", 10);
  ServeFiles();
  Start();
  {
    TClient client(Port());
    ASSERT_TRUE(client.Send(Request("GET", "/big")));
    EXPECT_EQ(client.Receive(1000).size(), 1000u);
    const linger reset{1, 0};  // close with RST
    ::setsockopt(client.Fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  EXPECT_EQ(Exchange(Port(), Request("GET", "/small")).Body.size(), 10u);
  ASSERT_TRUE(testsock::Eventually([&] { return Server.PeerThreadCount() == 0; }));
}

TEST_F(HttpCycleTest, HundredConcurrentDownloadsGetTheirWholeBodies) {
  const std::string content = File("shared", 200000);
  ServeFiles();
  Start();
  constexpr int kClients = 100;
  std::atomic<int> whole{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&] {
      if (Exchange(Port(), Request("GET", "/shared")).Body == content) ++whole;
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(whole, kClients);
}

}  // namespace
