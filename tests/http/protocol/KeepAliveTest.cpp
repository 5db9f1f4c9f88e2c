// Persistent connections: requests one after another and pipelined on one connection, who
// decides the close, answers framed by their length alone, heads that could be read two ways,
// the idle wait, and idle connections giving way at the connection limits.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "http/protocol/HttpServerFixture.h"

namespace {

using testhttp::ReceiveAnswer;
using testhttp::Request;
using testhttp::TAnswer;
using testsock::TClient;
using TClock = std::chrono::steady_clock;

bool Keeps(const TAnswer& answer) { return answer.Head.find("\r\nConnection: keep-alive\r\n") != std::string::npos; }
bool Closes(const TAnswer& answer) { return answer.Head.find("\r\nConnection: close\r\n") != std::string::npos; }

class KeepAliveTest : public THttpServerFixture {
 protected:
  KeepAliveTest() {
    Server.KeepAlive = true;
    // The document and the body sent with it, so that each answer shows which request it is.
    Handler = [](TIdPeerThread&, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
      response.BodyText = request.Document + (request.PostText.empty() ? "" : ":" + request.PostText);
    };
  }
};

TEST_F(KeepAliveTest, AHundredRequestsShareOneConnectionAndTheHundredthCloses) {
  Start();
  TClient client(Port());
  for (int i = 1; i <= 100; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(client.Send(Request("GET", "/" + std::to_string(i))));
    const TAnswer answer = ReceiveAnswer(client);
    ASSERT_EQ(answer.Body, "/" + std::to_string(i));
    EXPECT_TRUE(i < 100 ? Keeps(answer) : Closes(answer)) << answer.Head;
  }
  // The 101st is never read there; a new connection serves it.
  client.Send(Request("GET", "/101"));
  EXPECT_EQ(client.ReceiveAll(), "");
  TClient next(Port());
  ASSERT_TRUE(next.Send(Request("GET", "/101")));
  EXPECT_EQ(ReceiveAnswer(next).Body, "/101");
  EXPECT_EQ(Seen().size(), 101u);
}

TEST_F(KeepAliveTest, TheClientOrA404DecidesTheClose) {
  Handler = [](TIdPeerThread&, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
    if (request.Document == "/missing") response.SetStatusCode(404);
    response.BodyText = "x";
  };
  Start();
  struct Case {
    std::string request;
    bool kept;
  };
  const Case cases[] = {
      {Request("GET", "/"), true},
      {Request("GET", "/", "Connection: close\r\n"), false},
      {Request("GET", "/", "Connection: Keep-Alive, CLOSE\r\n"), false},
      {"GET / HTTP/1.0\r\n\r\n", false},
      {"GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", true},
      {"GET / HTTP/1.0\r\nConnection: Keep-Alive\r\nConnection: close\r\n\r\n", false},
      {Request("GET", "/missing"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    TClient client(Port());
    // The second request goes with the first: it is answered only on a kept connection.
    ASSERT_TRUE(client.Send(c.request + Request("GET", "/second")));
    const TAnswer first = ReceiveAnswer(client);
    EXPECT_EQ(first.Body, "x");
    EXPECT_EQ(Keeps(first), c.kept) << first.Head;
    EXPECT_EQ(Closes(first), !c.kept) << first.Head;
    if (c.kept) {
      EXPECT_EQ(ReceiveAnswer(client).Body, "x");
    } else {
      EXPECT_EQ(client.ReceiveAll(), "");
    }
  }
  // A method no event reads leaves its head unread: nothing after it is taken for a request.
  EXPECT_EQ(testhttp::ExchangeRaw(Port(), Request("OPTIONS", "*") + Request("GET", "/second")), "");
  EXPECT_EQ(Seen().size(), std::size(cases) + 2);  // the two kept ones saw their second
}

TEST_F(KeepAliveTest, PipelinedRequestsAreAnsweredInOrder) {
  Start();
  TClient client(Port());
  ASSERT_TRUE(client.Send(Request("GET", "/a") + Request("POST", "/b", "Content-Length: 3\r\n") + "xyz" +
                          Request("HEAD", "/c") + Request("GET", "/d", "Connection: close\r\n")));
  EXPECT_EQ(ReceiveAnswer(client).Body, "/a");
  EXPECT_EQ(ReceiveAnswer(client).Body, "/b:xyz");
  // A HEAD announces the length of the GET's body and sends none of it.
  const TAnswer head = ReceiveAnswer(client, true);
  EXPECT_NE(head.Head.find("\r\nContent-Length: 2\r\n"), std::string::npos) << head.Head;
  EXPECT_EQ(ReceiveAnswer(client).Body, "/d");
  EXPECT_EQ(client.ReceiveAll(), "");
}

TEST_F(KeepAliveTest, AHeadThatFramesItsBodyTwoWaysGets400AndTheClose) {
  Start();
  const char* const heads[] = {
      "Content-Length: 3\r\nContent-Length: 4\r\n",
      "Content-Length: 3\r\nContent-Length: 3, 3\r\n",
      "Content-Length: +3\r\n",
      "Content-Length: 3x\r\n",
      "Content-Length: 0x3\r\n",
      "Content-Length: -3\r\n",
      "Content-Length:\r\n",
      "Content-Length: 1000000000000000000003\r\n",
      "Transfer-Encoding: chunked\r\n",
      "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n",
      "transfer-encoding: identity\r\nContent-Length: 3\r\n",
      "Content-Length : 3\r\n",
      "Transfer-Encoding\t: chunked\r\n",
      "X-Pad: 1\r\n Transfer-Encoding: chunked\r\n",
      "X-Pad: 1\r\n\tchunked\r\n",
  };
  for (const char* head : heads) {
    SCOPED_TRACE(head);
    // A request hidden in the body is never served, however the body was meant to end.
    const std::string raw = testhttp::ExchangeRaw(
        Port(), Request("POST", "/", head) + "abc" + Request("GET", "/smuggled") + "0\r\n\r\n" + Request("GET", "/x"));
    EXPECT_EQ(raw,
              "HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Type: text/html\r\nContent-Length: 48\r\n"
              "Server: Velmora/1.0\r\n\r\n<HTML><BODY><B>400 Bad Request</B></BODY></HTML>");
  }
  EXPECT_TRUE(Seen().empty());
  // The same length twice, however written, is one length.
  TClient client(Port());
  ASSERT_TRUE(client.Send(Request("POST", "/", "Content-Length: 3\r\ncontent-length:003\r\n") + "abc" +
                          Request("GET", "/next")));
  EXPECT_EQ(ReceiveAnswer(client).Body, "/:abc");
  EXPECT_EQ(ReceiveAnswer(client).Body, "/next");
}

TEST_F(KeepAliveTest, WithoutKeepAliveTheHeadsAreReadAsBefore) {
  Server.KeepAlive = false;
  Start();
  // One request per connection leaves nothing to hide a request in: the first length counts.
  const TAnswer answer =
      testhttp::Exchange(Port(), Request("POST", "/", "Content-Length: 3\r\nContent-Length: 5\r\n") + "abcde");
  EXPECT_EQ(answer.Body, "/:abc");
  EXPECT_TRUE(Closes(answer));
}

TEST_F(KeepAliveTest, EveryKeptAnswerEndsByItsLength) {
  Handler = [](TIdPeerThread& thread, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
    const std::string& document = request.Document;
    if (document == "/empty") return;
    if (document == "/moved") {
      response.SetStatusCode(301);
      response.Location = "/elsewhere/";
    } else if (document == "/fresh") {
      response.SetStatusCode(304);
    } else if (document == "/unknown" || document == "/short") {
      // Written by the handler itself: a length it does not know, or one it does not keep.
      if (document == "/short") response.AssignContentLength(10);
      response.WriteHead();
      thread.Connection()->WriteText("abc");
    } else {
      response.BodyText = "text";
    }
  };
  Start();
  TClient client(Port());
  for (const char* document : {"/empty", "/moved", "/fresh", "/text"}) {
    SCOPED_TRACE(document);
    ASSERT_TRUE(client.Send(Request("GET", document)));
    const TAnswer answer = ReceiveAnswer(client);
    EXPECT_TRUE(Keeps(answer)) << answer.Head;
    const bool fresh = std::string(document) == "/fresh";
    EXPECT_EQ(answer.Head.find("\r\nContent-Length: ") != std::string::npos, !fresh) << answer.Head;
  }
  ASSERT_TRUE(client.Send(Request("HEAD", "/empty")));
  EXPECT_NE(ReceiveAnswer(client, true).Head.find("\r\nContent-Length: 0\r\n"), std::string::npos);
  ASSERT_TRUE(client.Send(Request("GET", "/text")));
  EXPECT_EQ(ReceiveAnswer(client).Body, "text");
  // An answer that only the close can end closes, whatever the client wanted.
  for (const char* document : {"/unknown", "/short"}) {
    SCOPED_TRACE(document);
    TClient other(Port());
    ASSERT_TRUE(other.Send(Request("GET", document) + Request("GET", "/text")));
    const std::string raw = other.ReceiveAll();
    EXPECT_TRUE(raw.ends_with("\r\n\r\nabc")) << raw;
    EXPECT_EQ(raw.find("Connection: close") != std::string::npos, std::string(document) == "/unknown") << raw;
  }
}

TEST_F(KeepAliveTest, AKeptConnectionWaitsForItsNextRequestOnlySoLong) {
  Server.KeepAliveIdleTime = 300;
  Start();
  // The first request has the whole head time, however long the idle wait.
  TClient client(Port());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_TRUE(client.Send(Request("GET", "/a")));
  ASSERT_EQ(ReceiveAnswer(client).Body, "/a");
  const auto answered = TClock::now();
  EXPECT_EQ(client.ReceiveAll(), "");
  const auto idle = TClock::now() - answered;
  EXPECT_GE(idle, std::chrono::milliseconds(250));
  EXPECT_LT(idle, std::chrono::seconds(3));
  EXPECT_TRUE(Errors().empty());  // an idle close is no error
}

// Idle connections, waiting for a next request, give way to new ones at the limits; busy ones
// and new ones never do.
TEST_F(KeepAliveTest, IdleConnectionsMakeRoomAtTheLimits) {
  Server.MaxConnections = 3;
  Server.MaxConnectionsPerAddress = 2;
  std::atomic<bool> release{false};
  Handler = [&release](TIdPeerThread&, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
    while (request.Document == "/hold" && !release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    response.BodyText = request.Document;
  };
  Start();
  // A kept connection once the server counts it as waiting: the client may read its answer
  // before the server's thread has turned to wait.
  auto idleFrom = [this](const char* from, std::size_t idleThen) {
    auto client = std::make_unique<TClient>(Port(), from);
    client->Send(Request("GET", "/idle"));
    EXPECT_EQ(ReceiveAnswer(*client).Body, "/idle");
    EXPECT_TRUE(testsock::Eventually([&] { return Server.IdleConnectionCount() == idleThen; }));
    return client;
  };
  // The per-address limit takes the idle connection of the same address, the oldest first.
  std::unique_ptr<TClient> first = idleFrom("127.0.0.1", 1);
  std::unique_ptr<TClient> second = idleFrom("127.0.0.1", 2);
  std::unique_ptr<TClient> other = idleFrom("127.0.0.2", 3);
  std::unique_ptr<TClient> third = idleFrom("127.0.0.1", 3);
  EXPECT_EQ(first->ReceiveAll(), "");
  ASSERT_TRUE(second->Send(Request("GET", "/again")));
  EXPECT_EQ(ReceiveAnswer(*second).Body, "/again");
  ASSERT_TRUE(testsock::Eventually([&] { return Server.IdleConnectionCount() == 3; }));
  // The total limit takes the one idle longest from any address: now the one from 127.0.0.2.
  std::unique_ptr<TClient> fourth = idleFrom("127.0.0.3", 3);
  EXPECT_EQ(other->ReceiveAll(), "");
  // Busy connections, and new ones that have not sent a request yet, never give way: these
  // three take the places of the three idle ones, and then a newcomer is refused.
  TClient busy(Port(), "127.0.0.4");
  ASSERT_TRUE(busy.Send(Request("GET", "/hold")));
  TClient fresh(Port(), "127.0.0.5");
  TClient busyToo(Port(), "127.0.0.6");
  ASSERT_TRUE(busyToo.Send(Request("GET", "/hold")));
  ASSERT_TRUE(testsock::Eventually([&] {
    const std::vector<TSeenRequest> seen = Seen();
    return std::count_if(seen.begin(), seen.end(), [](const TSeenRequest& r) { return r.Document == "/hold"; }) == 2;
  }));
  for (TClient* gone : {second.get(), third.get(), fourth.get()}) EXPECT_EQ(gone->ReceiveAll(), "");
  EXPECT_EQ(TClient(Port(), "127.0.0.7").ReceiveAll(),
            "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
  release = true;
  EXPECT_EQ(ReceiveAnswer(busy).Body, "/hold");
  EXPECT_EQ(ReceiveAnswer(busyToo).Body, "/hold");
  ASSERT_TRUE(fresh.Send(Request("GET", "/fresh")));
  EXPECT_EQ(ReceiveAnswer(fresh).Body, "/fresh");
  // Kept connections do not hold up a stop.
  const auto stopping = TClock::now();
  Server.SetActive(false);
  EXPECT_LT(TClock::now() - stopping, std::chrono::seconds(2));
}

// Clients that come and go at the limit while kept connections wait and are reclaimed: every
// request is answered, or its connection closed or refused, and nothing else.
TEST_F(KeepAliveTest, ReclaimingIdleConnectionsUnderLoadLosesNoAnswer) {
  Server.MaxConnections = 4;
  Start();
  std::atomic<int> answered{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 8; ++t) {
    clients.emplace_back([&, t] {
      const std::string document = "/" + std::to_string(t);
      for (int round = 0; round < 5; ++round) {
        TClient client(Port());
        for (int i = 0; i < 5; ++i) {
          if (!client.Send(Request("GET", document))) break;
          const TAnswer answer = ReceiveAnswer(client);
          if (answer.Closed || answer.Head.starts_with("HTTP/1.1 503")) break;
          if (answer.Body == document) {
            ++answered;
          } else {
            ++wrong;
          }
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(answered, 0);
}

}  // namespace
