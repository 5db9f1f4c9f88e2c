// Clients that hold a connection by being slow, against the real program with its real limits:
// a request body trickled in, an answer read a little at a time or not at all, and a client
// that sends one byte too many while a large answer goes out. The four run at once, each from
// its own address, so that together they take about as long as the slowest.

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <string>

#include "hostile/DownloadCheck.h"
#include "hostile/HostileEnvironment.h"
#include "hostile/LoopbackClient.h"
#include "support/TestSockets.h"

namespace {

using namespace hostile;
using std::chrono::milliseconds;
using std::chrono::seconds;
using testsock::TClient;

constexpr std::size_t kAnnouncedBody = 1 << 20;
constexpr std::size_t kBodyHeldBack = 16;  // sent a byte every kTrickleStep, after the rest
constexpr auto kTrickleStep = seconds(3);
constexpr auto kReadStep = seconds(20);    // a trickled read takes 4 KiB this often
constexpr auto kGiveUp = seconds(80);      // no case waits longer than this
constexpr double kRequestLimit = 30, kAnswerWindow = 60;

double SecondsSince(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }

// How one case ended: after how many seconds the server ended the connection (-1: it did not).
struct TEnding {
  double Seconds = -1;
  std::string Seen;  // what the client saw, for the report
};

// Waits until the server resets or closes the connection, or until the moment passes; true when
// it did. Works while unread bytes wait in the socket: only the end of the connection counts.
bool EndedBefore(TClient& client, TClock::time_point until) {
  const auto left = std::chrono::ceil<milliseconds>(until - TClock::now()).count();
  pollfd end{client.Fd(), POLLRDHUP, 0};
  return ::poll(&end, 1, static_cast<int>(std::max<long long>(left, 0))) == 1;
}

TEnding TrickledBody(int port) {
  TClient client(port, "127.0.0.21");
  const auto start = TClock::now();
  if (!client.Send(Request("POST", kPlainPath, "Content-Length: " + std::to_string(kAnnouncedBody) + "\r\n") +
                   std::string(kAnnouncedBody - kBodyHeldBack, 'b'))) {
    return {SecondsSince(start), "closed while the body was sent"};
  }
  for (auto next = TClock::now() + kTrickleStep; TClock::now() < start + kGiveUp; next += kTrickleStep) {
    if (EndedBefore(client, next) || !client.Send("b")) {
      const double ended = SecondsSince(start);
      const std::string answer = client.ReceiveWaiting();
      return {ended, answer.empty() ? "closed without an answer" : "answered " + answer.substr(0, 12)};
    }
  }
  return {-1, "still open"};
}

TEnding TrickledRead(int port) {
  TClient client(port, "127.0.0.22");
  const int small = 4096;
  ::setsockopt(client.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  const auto start = TClock::now();
  if (!client.Send(Request("GET", kBigPath))) return {SecondsSince(start), "closed before the request was sent"};
  std::size_t read = 0;
  for (auto next = start + kReadStep; TClock::now() < start + kGiveUp; next += kReadStep) {
    if (EndedBefore(client, next)) return {SecondsSince(start), Format("ended after %zu bytes read", read)};
    char block[4096];
    const ssize_t n = ::recv(client.Fd(), block, sizeof block, MSG_DONTWAIT);
    if (n > 0) read += static_cast<std::size_t>(n);
  }
  return {-1, Format("still open after %zu bytes read", read)};
}

TEnding NonReader(int port) {
  TClient client(port, "127.0.0.23");
  const auto start = TClock::now();
  if (!client.Send(Request("GET", kBigPath))) return {SecondsSince(start), "closed before the request was sent"};
  if (EndedBefore(client, start + kGiveUp)) return {SecondsSince(start), "ended"};
  return {-1, "still open"};
}

// Reads the whole answer at full speed after sending one byte more than the request.
TEnding ExtraByte(int port, std::size_t& intact) {
  TDownloadCheck check(THostileEnvironment::BigContent(), 1);
  TClient client(port, "127.0.0.24");
  const auto start = TClock::now();
  if (client.Send(Request("GET", kBigPath) + "x")) check.Take(0, client.ReceiveAll());
  intact = check.Intact();
  return {SecondsSince(start), Format("%llu body bytes", static_cast<unsigned long long>(check.BodyBytes()))};
}

std::string Shown(const TEnding& ending) {
  return ending.Seconds < 0 ? ending.Seen + " after " + std::to_string(kGiveUp.count()) + " s"
                            : Format("%s after %.1f s", ending.Seen.c_str(), ending.Seconds);
}

TEST(HostileDeadlines, SlowClientsAreEndedInTimeAndNoAnswerLosesItsEnd) {
  TServerProcess& server = THostileEnvironment::Server();
  ASSERT_TRUE(server.Running());
  const int port = server.Port();
  std::size_t intact = 0;
  auto body = std::async(std::launch::async, TrickledBody, port);
  auto trickledRead = std::async(std::launch::async, TrickledRead, port);
  auto nonReader = std::async(std::launch::async, NonReader, port);
  auto extraByte = std::async(std::launch::async, ExtraByte, port, std::ref(intact));
  const TEnding bodyEnding = body.get(), readEnding = trickledRead.get(), nonReaderEnding = nonReader.get(),
                extraEnding = extraByte.get();
  Report("trickled body (1 MiB announced, the last 16 bytes one every 3 s): " + Shown(bodyEnding) +
         "; trickled read (4 KiB every 20 s of " + std::to_string(kBigSize >> 20) + " MiB): " + Shown(readEnding) +
         "; non-reader: " + Shown(nonReaderEnding) + "; one byte more than the request: " + Shown(extraEnding) +
         (intact == 1 ? ", all bytes arrived" : ", bytes lost"));

  EXPECT_GE(bodyEnding.Seconds, kRequestLimit - 1);
  EXPECT_LE(bodyEnding.Seconds, kRequestLimit + 3);
  EXPECT_EQ(bodyEnding.Seen, "closed without an answer");
  for (const TEnding* answer : {&readEnding, &nonReaderEnding}) {
    EXPECT_GE(answer->Seconds, kAnswerWindow - 2) << answer->Seen;
    EXPECT_LE(answer->Seconds, 70) << answer->Seen;
  }
  EXPECT_EQ(intact, 1u) << extraEnding.Seen;
  EXPECT_TRUE(ServesNormally(server));
}

}  // namespace
