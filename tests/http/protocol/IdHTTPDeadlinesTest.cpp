// How a connection of the request cycle ends, with small limits: a request that does not
// arrive in time, an answer that a client reads too slowly, the close after a whole answer, and
// the connections that end without being worth a report.

#include "http/protocol/HttpServerFixture.h"

#include <sys/socket.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

using testhttp::Request;
using testsock::Eventually;
using testsock::TClient;
using TClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kKiB = 1024;

double SecondsSince(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

class HttpDeadlinesTest : public THttpServerFixture {
protected:
  HttpDeadlinesTest() {
    // Reports with the socket error's number, and when the first one came.
    Server.OnException = [this](TIdPeerThread&, const std::exception& error) {
      const auto* engineError = dynamic_cast<const EIdException*>(&error);
      std::string name = engineError != nullptr ? engineError->ClassName() : "other";
      if (const auto* socketError = dynamic_cast<const EIdSocketError*>(&error))
        name += " " + std::to_string(socketError->LastError);
      std::lock_guard<std::mutex> lock(FLock);
      if (FReports.empty()) FFirstReport = TClock::now();
      FReports.push_back(name);
    };
  }

  // Every answer is bodySize bytes of a pattern that shows a lost or misplaced piece.
  std::string AnswerWith(std::size_t bodySize) {
    std::string body(bodySize, '\0');
    for (std::size_t i = 0; i < bodySize; ++i) body[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    Handler = [body](TIdPeerThread&, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& response) { response.BodyText = body; };
    return body;
  }

  std::vector<std::string> Reports() {
    std::lock_guard<std::mutex> lock(FLock);
    return FReports;
  }
  // Seconds from start to the first report.
  double FirstReportAfter(TClock::time_point start) {
    std::lock_guard<std::mutex> lock(FLock);
    return std::chrono::duration<double>(FFirstReport - start).count();
  }
  bool ThreadsEnded() {
    return Eventually([&] { return Server.PeerThreadCount() == 0; });
  }

private:
  std::mutex FLock;
  std::vector<std::string> FReports;  // guarded by FLock
  TClock::time_point FFirstReport;    // guarded by FLock
};

// The whole request, head and body

// A body trickled a byte at a time used to be held as long as each pause stayed short.
TEST_F(HttpDeadlinesTest, ATrickledBodyIsCutAtTheRequestDeadline) {
  Server.HeadTimeout = 600;
  AnswerWith(2);
  Start();
  TClient client(Port());
  const auto start = TClock::now();
  ASSERT_TRUE(client.Send(Request("POST", "/", "Content-Length: 1000\r\n") + std::string(500, 'b')));
  while (Reports().empty() && SecondsSince(start) < 5 && client.Send("b")) std::this_thread::sleep_for(milliseconds(50));
  ASSERT_TRUE(Eventually([&] { return !Reports().empty(); }));
  EXPECT_GE(FirstReportAfter(start), 0.55);
  EXPECT_LT(FirstReportAfter(start), 1.5);
  EXPECT_EQ(Reports(), std::vector<std::string>{"EIdReadTimeout"});
  EXPECT_EQ(client.ReceiveAll(), "");
  EXPECT_TRUE(Seen().empty());
}

// Connections that end before a request begins: browsers open spare ones and never use them.
TEST_F(HttpDeadlinesTest, OnlyAConnectionThatSentSomethingIsReported) {
  Server.HeadTimeout = 300;
  AnswerWith(2);
  Start();
  {
    TClient closesAtOnce(Port());
    TClient staysSilent(Port());
    EXPECT_EQ(staysSilent.ReceiveAll(), "");  // closed by the server at the deadline
  }
  ASSERT_TRUE(ThreadsEnded());
  EXPECT_TRUE(Reports().empty()) << Reports().front();
  // Part of a request line is a request refused: its one report stays.
  TClient partial(Port());
  ASSERT_TRUE(partial.Send("GET / HT"));
  EXPECT_EQ(partial.ReceiveAll(), "");
  ASSERT_TRUE(ThreadsEnded());
  EXPECT_EQ(Reports(), std::vector<std::string>{"EIdReadTimeout"});
  EXPECT_TRUE(Seen().empty());
}

// The answer: at least SendTimeoutBytes in every SendTimeout

class HttpSendLimitsTest : public HttpDeadlinesTest {
protected:
  HttpSendLimitsTest() {
    Server.SendTimeout = 400;
    Server.SendTimeoutBytes = 64 * kKiB;  // 160 KiB a second
  }

  // A client whose socket takes little ahead of its reads.
  std::unique_ptr<TClient> SmallClient() {
    auto client = std::make_unique<TClient>(Port());
    const int small = 4096;
    ::setsockopt(client->Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    return client;
  }
};

TEST_F(HttpSendLimitsTest, ANonReaderIsCutOneWindowAfterItsBuffersFilled) {
  AnswerWith(16 << 20);
  Start();
  const auto client = SmallClient();
  ASSERT_TRUE(client->Send(Request("GET", "/")));
  ASSERT_EQ(client->Receive(1).size(), 1u);  // the window opens with the answer's first send
  const auto start = TClock::now();
  ASSERT_TRUE(Eventually([&] { return !Reports().empty(); }));
  EXPECT_GE(FirstReportAfter(start), 0.35);
  EXPECT_LT(FirstReportAfter(start), 1.4);
  EXPECT_EQ(Reports(), std::vector<std::string>{"EIdSocketError 10060"});
  // Reset, not closed: what the server's socket still held is not fed to the client afterwards.
  EXPECT_LT(client->ReceiveAll().size(), 1u << 20);
}

// The same through the platform's file transmit call.
TEST_F(HttpSendLimitsTest, ANonReaderOfAFileIsCutOneWindowAfterItsBuffersFilled) {
  const std::string path = testing::TempDir() + "velmora-send-limits-" + std::to_string(::getpid());
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const std::string block(1 << 20, 'f');
    for (int i = 0; i < 32; ++i) std::fwrite(block.data(), 1, block.size(), file);
    std::fclose(file);
  }
  Handler = [this, path](TIdPeerThread& thread, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& response) {
    Server.SendFileResponse(thread, response, path);
  };
  Start();
  const auto client = SmallClient();
  ASSERT_TRUE(client->Send(Request("GET", "/")));
  ASSERT_EQ(client->Receive(1).size(), 1u);
  const auto start = TClock::now();
  const bool reported = Eventually([&] { return !Reports().empty(); });
  std::remove(path.c_str());
  ASSERT_TRUE(reported);
  EXPECT_GE(FirstReportAfter(start), 0.35);
  EXPECT_LT(FirstReportAfter(start), 1.4);
  EXPECT_EQ(Reports().front(), "EIdSocketError 10060");
  EXPECT_LT(client->ReceiveAll().size(), 1u << 20);
}

// A reader that moves something before each send call could time out, but too little in all,
// used to be served for as long as it liked.
TEST_F(HttpSendLimitsTest, AReaderBelowTheRateIsCut) {
  AnswerWith(16 << 20);
  Start();
  const auto client = SmallClient();
  ASSERT_TRUE(client->Send(Request("GET", "/")));
  ASSERT_EQ(client->Receive(1).size(), 1u);
  const auto start = TClock::now();
  while (Reports().empty() && SecondsSince(start) < 5) {
    client->Receive(4 * kKiB);  // 40 KiB a second
    std::this_thread::sleep_for(milliseconds(100));
  }
  ASSERT_FALSE(Reports().empty()) << "still served after 5 s";
  EXPECT_LT(FirstReportAfter(start), 1.4);
  EXPECT_EQ(Reports(), std::vector<std::string>{"EIdSocketError 10060"});
}

TEST_F(HttpSendLimitsTest, AReaderAboveTheRateGetsTheWholeAnswer) {
  const std::string body = AnswerWith(8 << 20);
  Start();
  // Buffers of the usual size: a tiny receive window would hold the answer to the pace of
  // delayed acknowledgements rather than the reader's.
  const auto client = std::make_unique<TClient>(Port());
  ASSERT_TRUE(client->Send(Request("GET", "/")));
  std::string received;
  const auto start = TClock::now();
  for (std::string piece = "-"; !piece.empty() && SecondsSince(start) < 20;) {
    piece = client->Receive(64 * kKiB);  // 3.2 MiB a second, twenty times the rule
    received += piece;
    std::this_thread::sleep_for(milliseconds(20));
  }
  ASSERT_TRUE(received.ends_with(body)) << received.size() << " bytes received"
                                        << (Reports().empty() ? "" : ", " + Reports().front());
  EXPECT_GT(SecondsSince(start), 1.0) << "the answer never waited for the reader";
  EXPECT_TRUE(Reports().empty()) << Reports().front();
}

// An answer that pauses for the server's own work (an archive reading a large file's checksum)
// between its writes is not cut for the pause: only a client that reads too little is.
TEST_F(HttpSendLimitsTest, TheServersOwnPauseBetweenWritesIsNotHeldAgainstTheClient) {
  const std::string body(2 << 20, 'p');
  Handler = [&body](TIdPeerThread& thread, TIdHTTPRequestInfo&, TIdHTTPResponseInfo& response) {
    response.AssignContentLength(static_cast<std::int64_t>(body.size()));
    response.WriteHead();  // far less than the rule asks for in a window
    std::this_thread::sleep_for(milliseconds(1200));  // three windows
    thread.Connection()->WriteText(body);
  };
  Start();
  TClient client(Port());
  ASSERT_TRUE(client.Send(Request("GET", "/")));
  const std::string answer = client.ReceiveAll();
  EXPECT_TRUE(answer.ends_with(body)) << answer.size() << " bytes received";
  ASSERT_TRUE(ThreadsEnded());
  EXPECT_TRUE(Reports().empty()) << Reports().front();
}

// The close after an answer

// A client that sent one more byte while the answer went out used to be reset at the close,
// and lost what it had not read yet.
TEST_F(HttpDeadlinesTest, BytesSentDuringTheAnswerDoNotCostItsEnd) {
  const std::string body = AnswerWith(4 << 20);
  Start();
  TClient client(Port());
  ASSERT_TRUE(client.Send(Request("GET", "/") + "x"));
  std::this_thread::sleep_for(milliseconds(300));  // the server is done writing long before
  const std::string answer = client.ReceiveAll();
  client.Close();
  EXPECT_TRUE(answer.ends_with(body)) << answer.size() << " bytes received";
  ASSERT_TRUE(ThreadsEnded());
  EXPECT_TRUE(Reports().empty()) << Reports().front();
}

TEST_F(HttpDeadlinesTest, AClientThatNeverClosesHoldsItsThreadOnlyForTheDrainTime) {
  Server.CloseDrainTime = 1000;
  const std::string body = AnswerWith(100);
  Start();
  TClient client(Port());
  const auto start = TClock::now();
  ASSERT_TRUE(client.Send(Request("GET", "/")));
  // The end of the stream comes right after the answer, not with the close.
  EXPECT_TRUE(client.ReceiveAll().ends_with(body));
  EXPECT_LT(SecondsSince(start), 0.8);
  EXPECT_EQ(Server.PeerThreadCount(), 1u);  // waiting for the client to close
  ASSERT_TRUE(ThreadsEnded());
  EXPECT_LT(SecondsSince(start), 2.5);
}

TEST_F(HttpDeadlinesTest, AClientThatKeepsSendingIsDroppedAfterTheDrainBytes) {
  Server.CloseDrainTime = 10000;
  Server.CloseDrainBytes = 4 * kKiB;
  const std::string body = AnswerWith(100);
  Start();
  TClient client(Port());
  const auto start = TClock::now();
  ASSERT_TRUE(client.Send(Request("GET", "/")));
  EXPECT_TRUE(client.ReceiveAll().ends_with(body));
  client.Send(std::string(64 * kKiB, 'z'));  // may fail once the server has closed
  ASSERT_TRUE(ThreadsEnded());
  EXPECT_LT(SecondsSince(start), 5.0);
}

}  // namespace
