#include "http/net/IdDrainingCloser.h"

#include "http/net/IdComponent.h"
#include "support/TestSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsock::Eventually;

// One end of a loopback connection, as a server holds it after an answer (its sending side shut
// down), and the client's end.
struct TConnectionEnds {
  int Server = -1;
  int Client = -1;
};

TConnectionEnds Connect() {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listener, 1);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  TConnectionEnds ends;
  ends.Client = ::socket(AF_INET, SOCK_STREAM, 0);
  ::connect(ends.Client, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ends.Server = ::accept(listener, nullptr, nullptr);
  ::close(listener);
  ::shutdown(ends.Server, SHUT_WR);
  return ends;
}

// Whether a byte the client sends now is answered by a reset within wait: the server's end is
// closed. While it waits to close, the byte is read and dropped.
bool SendsResetWithin(int client, std::chrono::milliseconds wait) {
  ::send(client, "z", 1, MSG_NOSIGNAL);
  std::this_thread::sleep_for(wait);
  int error = 0;
  socklen_t length = sizeof error;
  ::getsockopt(client, SOL_SOCKET, SO_ERROR, &error, &length);
  return error != 0;
}

class TIdDrainingCloserTest : public ::testing::Test {
protected:
  ~TIdDrainingCloserTest() override {
    for (const int client : FClients) ::close(client);
  }
  int Adopted(TIdDrainingCloser& closer) {
    const TConnectionEnds ends = Connect();
    FClients.push_back(ends.Client);
    closer.Adopt(ends.Server);
    return ends.Client;
  }

  TIdComponent FStack;

private:
  std::vector<int> FClients;
};

TEST_F(TIdDrainingCloserTest, ClosesOnceThePeerClosesAndDropsWhatItSentBefore) {
  TIdDrainingCloser closer(60s, 64 * 1024);
  const int client = Adopted(closer);
  const std::string late(10000, 'x');
  ::send(client, late.data(), late.size(), MSG_NOSIGNAL);
  EXPECT_FALSE(SendsResetWithin(client, 100ms)) << "closed with the peer's bytes unread";
  EXPECT_EQ(closer.Count(), 1u);
  ::shutdown(client, SHUT_WR);
  EXPECT_TRUE(Eventually([&] { return closer.Count() == 0; }));
}

TEST_F(TIdDrainingCloserTest, ClosesAfterTheDrainTimeOrTheDrainBytes) {
  TIdDrainingCloser closer(300ms, 4096);
  const int silent = Adopted(closer);
  const int talkative = Adopted(closer);
  const std::string flood(64 * 1024, 'f');
  ::send(talkative, flood.data(), flood.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  EXPECT_TRUE(Eventually([&] { return closer.Count() == 1; })) << "the bytes did not end the wait";
  EXPECT_TRUE(Eventually([&] { return closer.Count() == 0; })) << "the time did not end the wait";
  EXPECT_TRUE(SendsResetWithin(silent, 100ms));
}

TEST_F(TIdDrainingCloserTest, BeyondItsRoomTheLongestWaitingIsClosed) {
  TIdDrainingCloser closer(60s, 64 * 1024, 2);
  const int first = Adopted(closer);
  const int second = Adopted(closer);
  const int third = Adopted(closer);
  EXPECT_EQ(closer.Count(), 2u);
  EXPECT_TRUE(SendsResetWithin(first, 100ms));
  EXPECT_FALSE(SendsResetWithin(second, 100ms));
  EXPECT_FALSE(SendsResetWithin(third, 100ms));
}

TEST_F(TIdDrainingCloserTest, EndingClosesEveryWaitingSocketAtOnce) {
  std::vector<int> clients;
  const auto start = std::chrono::steady_clock::now();
  {
    TIdDrainingCloser closer(60s, 64 * 1024);
    for (int i = 0; i < 20; ++i) clients.push_back(Adopted(closer));
    EXPECT_EQ(closer.Count(), 20u);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  for (const int client : clients) EXPECT_TRUE(SendsResetWithin(client, 10ms));
}

}  // namespace
