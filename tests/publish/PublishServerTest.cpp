// The publishing server as its hosts use it: what its connection threads may rely on while it
// is taken apart, and which errors that end a connection reach the log.

#include "publish/PublishServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "http/net/IdException.h"
#include "platform/TestTree.h"
#include "publish/LogLine.h"
#include "support/TestSockets.h"

namespace {

class TFixedSettings : public ISettingsSource {
public:
  explicit TFixedSettings(std::string root) { FSettings.Root = std::move(root); }
  TPublishSettings Snapshot() const override { return FSettings; }

private:
  TPublishSettings FSettings;
};

// A log that can hold every writer at a gate, so that a connection thread stays inside the
// request handler for as long as the test wants.
class TGatedLog : public ILogSink {
public:
  void AppendLine(const std::string& line) override {
    std::unique_lock<std::mutex> lock(FLock);
    FLines.push_back(line);
    FChanged.notify_all();
    FChanged.wait(lock, [this] { return FOpen; });
    ++FReturned;
  }
  void SetOpen(bool open) {
    const std::lock_guard<std::mutex> lock(FLock);
    FOpen = open;
    FChanged.notify_all();
  }
  std::vector<std::string> Lines() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FLines;
  }
  int Returned() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FReturned;
  }

private:
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  bool FOpen = true;                // guarded by FLock
  std::vector<std::string> FLines;  // guarded by FLock
  int FReturned = 0;                // guarded by FLock
};

class PublishServerTest : public ::testing::Test {
protected:
  PublishServerTest() : Settings(Tree.Folder("pub")) {}

  void Start() {
    Server = std::make_unique<TPublishServer>(Settings, Log, Formats);
    Port = testsock::FreePort();
    Server->Start(Port);
  }
  bool ConnectionsEnded() const { return Server->httpd.PeerThreadCount() == 0; }

  testing_tree::TTempTree Tree;
  TFixedSettings Settings;
  TGatedLog Log;
  const platform::TRegionalFormats Formats{};
  std::unique_ptr<TPublishServer> Server;
  int Port = 0;
};

// Lifetimes

TEST_F(PublishServerTest, ConnectionHeldOpenEndsBeforeTheServerGoes) {
  Start();
  testsock::TClient client(Port);
  ASSERT_TRUE(client.Connected());
  client.Send("GET / HT");  // the thread waits for the rest of the line
  ASSERT_TRUE(testsock::Eventually([this] { return !ConnectionsEnded(); }));
  Server.reset();
  EXPECT_EQ("", client.ReceiveAll());  // closed without an answer
  EXPECT_TRUE(Log.Lines().empty()) << "a stop is no error";
}

// The headless mode once freed the request handler, and the window its log, while connection
// threads that had outlived the stop's wait still used them.
TEST_F(PublishServerTest, StopThatTimedOutStillWaitsForTheHandlerBeforeTheServerGoes) {
  Start();
  Server->httpd.TerminateWaitTime = 500;
  Log.SetOpen(false);
  testsock::TClient client(Port);
  ASSERT_TRUE(client.Connected());
  client.Send("GET / HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(testsock::Eventually([this] { return Log.Lines().size() == 1; }));  // held in the handler

  EXPECT_THROW(Server->Stop(), EIdTerminateThreadTimeout);
  EXPECT_TRUE(Server->Active());
  std::atomic<bool> destroying{false};
  std::thread opener([&] {
    while (!destroying) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Log.SetOpen(true);
  });
  destroying = true;
  Server.reset();
  EXPECT_EQ(1, Log.Returned()) << "the server went while its handler still ran";
  opener.join();
}

// The log line rule

TEST(EndsConnectionQuietly, OnlyAClientGoneOrAServerStoppingIsQuiet) {
  const struct {
    std::shared_ptr<std::exception> Error;
    bool Quiet;
  } cases[] = {
      {std::make_shared<EIdConnClosedGracefully>(), true},
      {std::make_shared<EIdSilentException>(), true},
      {std::make_shared<EIdClosedSocket>(), true},
      {std::make_shared<EIdNotConnected>(), true},
      {std::make_shared<EIdSocketError>(10053, "aborted"), true},
      {std::make_shared<EIdSocketError>(10054, "reset"), true},
      {std::make_shared<EIdSocketError>(10058, "shut down"), true},
      {std::make_shared<EIdSocketError>(10055, "no buffers"), false},
      {std::make_shared<EIdSocketError>(10060, "timed out"), false},
      {std::make_shared<EIdReadLnMaxLineLengthExceeded>(), false},
      {std::make_shared<EIdReadTimeout>(), false},
      {std::make_shared<EIdHTTPErrorParsingCommand>(), false},
      {std::make_shared<EIdTCPConnectionError>(), false},  // the base of EIdNotConnected
      {std::make_shared<std::bad_alloc>(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ExceptionLogLine(*c.Error));
    EXPECT_EQ(c.Quiet, EndsConnectionQuietly(*c.Error));
  }
}

TEST_F(PublishServerTest, RefusedRequestGivesOneLogLineAndAClientGoneNone) {
  Start();
  {
    testsock::TClient gone(Port);  // connects and closes without a word
    ASSERT_TRUE(gone.Connected());
  }
  testsock::TClient malformed(Port);
  ASSERT_TRUE(malformed.Connected());
  malformed.Send("NONSENSE\r\n\r\n");
  EXPECT_EQ("", malformed.ReceiveAll());
  ASSERT_TRUE(testsock::Eventually([this] { return ConnectionsEnded(); }));
  Server.reset();
  const std::vector<std::string> lines = Log.Lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(0u, lines[0].rfind("exception : EId", 0)) << lines[0];
}

}  // namespace
