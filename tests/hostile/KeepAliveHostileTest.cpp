// The headless program with --keep-alive against clients that misuse persistent connections:
// crowds of idle connections that would hold every place, requests smuggled inside others, and
// a pipeline that never stops. Its own server, so that the shared one keeps one request per
// connection.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "hostile/HostileEnvironment.h"
#include "support/HttpExchange.h"
#include "support/TestSockets.h"

namespace {

using namespace hostile;
using testhttp::ReceiveAnswer;
using testsock::TClient;
using TClock = std::chrono::steady_clock;

constexpr long kGuardKiB = 256 * kKiBPerMiB;
constexpr int kPerAddressCap = 128;

class KeepAliveHostile : public testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    std::string folder = (fs::temp_directory_path() / "velmora-keepalive-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    FFolder = folder;
    fs::create_directory(FFolder / "root");
    std::ofstream(FFolder / "root" / "a.txt") << kPlainContent;
    std::ofstream(FFolder / "root" / ".env") << "withheld-dotenv";
    FServer =
        std::make_unique<TServerProcess>(VELMORA_BINARY, (FFolder / "root").string(), FFolder.string(),
                                         testsock::FreePort(), kGuardKiB, std::vector<std::string>{"--keep-alive"});
    ASSERT_TRUE(FServer->Start(4096)) << FServer->Error();
  }
  void TearDown() override {
    if (FServer) {
      EXPECT_EQ(FServer->Stop(), 0) << FServer->Error();
    }
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
  }
  int Port() const { return FServer->Port(); }

  std::filesystem::path FFolder;
  std::unique_ptr<TServerProcess> FServer;
};

// A kept connection from the address: one answered request, then silence.
std::unique_ptr<TClient> IdleFrom(int port, const char* from) {
  auto client = std::make_unique<TClient>(port, from);
  if (!client->Send(Request("GET", kPlainPath)) || ReceiveAnswer(*client).Body != kPlainContent) return nullptr;
  return client;
}

// Every place of an address taken by idle connections: newcomers from it are still served, at
// the cost of the idle ones, and the idle ones end by themselves after the idle time.
TEST_F(KeepAliveHostile, IdleConnectionsNeverHoldEveryPlace) {
  std::vector<std::unique_ptr<TClient>> idle;
  for (int i = 0; i < kPerAddressCap; ++i) {
    idle.push_back(IdleFrom(Port(), "127.0.0.1"));
    ASSERT_NE(idle.back(), nullptr) << i;
  }
  const auto allIdle = TClock::now();
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    TClient newcomer(Port(), "127.0.0.1");
    ASSERT_TRUE(newcomer.Send(Request("GET", kPlainPath, "Connection: close\r\n")));
    EXPECT_EQ(testhttp::SplitAnswer(newcomer.ReceiveAll()).Body, kPlainContent);
  }
  // The oldest gave way; the others wait out their idle time (5 s) and are closed.
  int closed = 0;
  for (auto& client : idle) closed += client->ReceiveAll().empty() ? 1 : 0;
  const double seconds = std::chrono::duration<double>(TClock::now() - allIdle).count();
  EXPECT_EQ(closed, kPerAddressCap);
  EXPECT_GT(seconds, 4.0);
  EXPECT_LT(seconds, 9.0);
  Report(Format("%d idle kept connections from one address: 8 newcomers served; all closed after %.1f s",
                kPerAddressCap, seconds));
  EXPECT_TRUE(FServer->Running()) << HowItEnded(*FServer);
}

// Requests hidden in a body, in every reading a proxy in front might take: each head gets 400
// and the close, and nothing after it is ever served.
TEST_F(KeepAliveHostile, SmuggledRequestsAreNeverServed) {
  const std::string hidden = Request("GET", "/smuggled-.env");
  const std::string attempts[] = {
      // CL.TE and TE.CL
      Request("POST", kPlainPath, "Content-Length: 6\r\nTransfer-Encoding: chunked\r\n") + "0\r\n\r\n" + hidden,
      Request("POST", kPlainPath, "Transfer-Encoding: chunked\r\nContent-Length: 3\r\n") + "5c\r\n" + hidden +
          "\r\n0\r\n\r\n",
      // Transfer-Encoding written so that one reader sees it and another does not
      Request("POST", kPlainPath, "Content-Length: 4\r\nTransfer-Encoding : chunked\r\n") + "0\r\n\r\n" + hidden,
      Request("POST", kPlainPath, "Content-Length: 4\r\nTransfer-Encoding:\tchunked\r\n") + "0\r\n\r\n" + hidden,
      Request("POST", kPlainPath, "Content-Length: 4\r\nTransfer-Encoding: xchunked\r\n") + "0\r\n\r\n" + hidden,
      Request("POST", kPlainPath, "Content-Length: 4\r\nX: y\r\n Transfer-Encoding: chunked\r\n") + "0\r\n\r\n" +
          hidden,
      // CL.CL, and lengths that readers take differently
      Request("POST", kPlainPath, "Content-Length: 0\r\nContent-Length: 44\r\n") + hidden,
      Request("POST", kPlainPath, "Content-Length: 0, 44\r\n") + hidden,
      Request("POST", kPlainPath, "Content-Length: 44 \r\nContent-Length: 0\r\n") + hidden,
      Request("POST", kPlainPath, "Content-Length : 44\r\n") + hidden,
      Request("POST", kPlainPath, "Content-Length: 0x2c\r\n") + hidden,
      Request("POST", kPlainPath, "Content-Length: 18446744073709551660\r\n") + hidden,
  };
  for (const std::string& attempt : attempts) {
    SCOPED_TRACE(attempt);
    TClient client(Port());
    ASSERT_TRUE(client.Send(attempt));
    const std::string raw = client.ReceiveAll();
    EXPECT_TRUE(raw.starts_with("HTTP/1.1 400 Bad Request\r\nConnection: close\r\n")) << raw;
    EXPECT_EQ(raw.find("HTTP/1.1", 1), std::string::npos) << raw;  // one answer only
  }
  // The request after a well-framed body is served as itself.
  TClient client(Port());
  ASSERT_TRUE(client.Send(Request("POST", kPlainPath, "Content-Length: 3\r\n") + "abc" + Request("GET", kPlainPath)));
  EXPECT_EQ(ReceiveAnswer(client).Body, kPlainContent);
  EXPECT_EQ(ReceiveAnswer(client).Body, kPlainContent);
  EXPECT_EQ(FServer->Output().find("smuggled"), std::string::npos) << FServer->Output();
}

// A client that pipelines without end gets at most 100 answers on the connection, which then
// closes; the server stays small and serves everyone else.
TEST_F(KeepAliveHostile, AnEndlessPipelineEndsAfterAHundredAnswers) {
  const long before = FServer->ResidentKiB();
  TClient client(Port());
  std::string burst;
  for (int i = 0; i < 200; ++i) burst += Request("GET", kPlainPath);
  ASSERT_TRUE(client.Send(burst));
  const std::string raw = client.ReceiveAll();
  std::size_t answers = 0;
  for (std::size_t at = raw.find("HTTP/1.1 200"); at != std::string::npos; at = raw.find("HTTP/1.1 200", at + 1))
    ++answers;
  EXPECT_EQ(answers, 100u);
  EXPECT_NE(raw.rfind("Connection: close"), std::string::npos);
  TClient other(Port(), "127.0.0.2");
  ASSERT_TRUE(other.Send(Request("GET", kPlainPath, "Connection: close\r\n")));
  EXPECT_EQ(testhttp::SplitAnswer(other.ReceiveAll()).Body, kPlainContent) << HowItEnded(*FServer);
  Report("200 pipelined requests on one connection: " + std::to_string(answers) + " answered, then the close" +
         MemoryFigures(*FServer, before));
}

}  // namespace
