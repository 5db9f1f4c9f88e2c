// The report of every answered request: what status went out, how many body bytes left, and
// when, also for answers that an error or the client cut short.

#include "http/protocol/HttpServerFixture.h"

#include <sys/socket.h>

#include <condition_variable>
#include <stdexcept>

#include "platform/TestTree.h"

namespace {

using testhttp::Exchange;
using testhttp::Request;
using testsock::TClient;

struct TReport {
  std::string RequestLine, RemoteIP, AuthUser, UserAgent;
  TIdHTTPRequestOutcome Outcome;
};

class RequestDoneTest : public THttpServerFixture {
protected:
  RequestDoneTest() {
    Server.OnRequestDone = [this](const TIdHTTPRequestInfo& request, const TIdHTTPRequestOutcome& outcome) {
      const std::lock_guard<std::mutex> lock(FLock);
      FReports.push_back({request.RequestLine, request.RemoteIP, request.AuthUser, request.UserAgent, outcome});
      FArrived.notify_all();
    };
    Handler = [this](TIdPeerThread& thread, TIdHTTPRequestInfo& request, TIdHTTPResponseInfo& response) {
      const std::string& document = request.Document;
      if (document == "/text") {
        response.BodyText = "hello";
      } else if (document == "/login") {
        response.BodyText = "the handler's own page";
        response.BasicRealm = "realm";
      } else if (document == "/fails") {
        throw std::runtime_error("broken");
      } else if (document == "/fails-late") {
        response.AssignContentLength(10);
        response.WriteHead();
        response.ClientConnection->WriteText("abc");
        throw std::runtime_error("broken after the head");
      } else {
        Server.SendFileResponse(thread, request, response, Tree.At(document.substr(1)));
      }
    };
  }
  ~RequestDoneTest() override { Server.SetActive(false); }

  // The report of the count-th request, waiting for it as long as the sockets' timeouts.
  TReport Report(std::size_t count) {
    std::unique_lock<std::mutex> lock(FLock);
    FArrived.wait_for(lock, std::chrono::seconds(testsock::kTimeoutSeconds), [&] { return FReports.size() >= count; });
    return FReports.size() >= count ? FReports[count - 1] : TReport{};
  }
  std::size_t ReportCount() {
    const std::lock_guard<std::mutex> lock(FLock);
    return FReports.size();
  }

  testing_tree::TTempTree Tree;

private:
  std::mutex FLock;
  std::condition_variable FArrived;
  std::vector<TReport> FReports;  // guarded by FLock
};

TEST_F(RequestDoneTest, ReportsTheStatusSentAndTheBodyBytesThatLeft) {
  Tree.File("f.bin", std::string(100000, 'f'));
  Start();
  const std::time_t before = std::time(nullptr);
  Exchange(Port(), Request("GET", "/text", "User-Agent: probe/1\r\n"));
  const TReport text = Report(1);
  EXPECT_EQ(text.RequestLine, "GET /text HTTP/1.1");
  EXPECT_EQ(text.RemoteIP, "127.0.0.1");
  EXPECT_EQ(text.UserAgent, "probe/1");
  EXPECT_EQ(text.Outcome.StatusCode, 200);
  EXPECT_EQ(text.Outcome.BodyBytesSent, 5);
  EXPECT_GE(text.Outcome.Received, before);
  EXPECT_LE(text.Outcome.Received, std::time(nullptr));
  EXPECT_GE(text.Outcome.DurationUs, 0);

  // The challenge replaces the handler's page: its 49 bytes are what left.
  Exchange(Port(), Request("GET", "/login", "Authorization: Basic Ym9iOnNlY3JldA==\r\n"));
  const TReport login = Report(2);
  EXPECT_EQ(login.Outcome.StatusCode, 401);
  EXPECT_EQ(login.Outcome.BodyBytesSent, 49);
  EXPECT_EQ(login.AuthUser, "bob");

  Exchange(Port(), Request("GET", "/f.bin"));
  EXPECT_EQ(Report(3).Outcome.BodyBytesSent, 100000);
  Exchange(Port(), Request("HEAD", "/f.bin"));
  EXPECT_EQ(Report(4).Outcome.BodyBytesSent, 0);
  Exchange(Port(), Request("GET", "/f.bin", "Range: bytes=10-19\r\n"));
  EXPECT_EQ(Report(5).Outcome.StatusCode, 206);
  EXPECT_EQ(Report(5).Outcome.BodyBytesSent, 10);
  Exchange(Port(), Request("GET", "/f.bin", "If-Modified-Since: Fri, 01 Jan 2100 00:00:00 GMT\r\n"));
  EXPECT_EQ(Report(6).Outcome.StatusCode, 304);
  EXPECT_EQ(Report(6).Outcome.BodyBytesSent, 0);
  const std::string page = Exchange(Port(), Request("GET", "/fails")).Body;
  EXPECT_EQ(Report(7).Outcome.StatusCode, 500);
  EXPECT_EQ(Report(7).Outcome.BodyBytesSent, static_cast<std::int64_t>(page.size()));
  Exchange(Port(), Request("GET", "/missing"));
  EXPECT_EQ(Report(8).Outcome.StatusCode, 500);
}

TEST_F(RequestDoneTest, ADownloadCutShortReportsWhatLeftBeforeTheCut) {
  constexpr std::int64_t kSize = 32 << 20;
  Tree.File("big", std::string(kSize, 'b'));
  Start();
  {
    TClient client(Port());
    ASSERT_TRUE(client.Send(Request("GET", "/big")));
    ASSERT_EQ(client.Receive(100000).size(), 100000u);
    const linger reset{1, 0};  // close with RST
    ::setsockopt(client.Fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  const TReport cut = Report(1);
  EXPECT_EQ(cut.Outcome.StatusCode, 200);
  EXPECT_GT(cut.Outcome.BodyBytesSent, 0);
  EXPECT_LT(cut.Outcome.BodyBytesSent, kSize);
}

// Regression: a handler that failed after the head had gone out got the 500 page appended to
// the part of its body that had left, under the head's status and length.
TEST_F(RequestDoneTest, AnErrorAfterTheHeadEndsTheAnswerWhereItStands) {
  Start();
  const auto answer = Exchange(Port(), Request("GET", "/fails-late"));
  EXPECT_EQ(answer.Head.rfind("HTTP/1.1 200 OK(&O)\r\n", 0), 0u);
  EXPECT_EQ(answer.Body, "abc");
  EXPECT_EQ(Report(1).Outcome.StatusCode, 200);
  EXPECT_EQ(Report(1).Outcome.BodyBytesSent, 3);
}

TEST_F(RequestDoneTest, ARequestRefusedBeforeItsAnswerIsNotReported) {
  Start();
  Exchange(Port(), "GET / HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n");  // a body over the limit
  Exchange(Port(), "NONSENSE\r\n\r\n");
  Exchange(Port(), Request("GET", "/text"));
  EXPECT_EQ(Report(1).RequestLine, "GET /text HTTP/1.1");
  EXPECT_EQ(ReportCount(), 1u);
}

}  // namespace
