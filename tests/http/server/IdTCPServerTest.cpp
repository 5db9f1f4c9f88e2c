#include "http/net/IdException.h"
#include "http/server/IdPeerThread.h"
#include "http/server/IdTCPServer.h"
#include "http/server/IdThreadMgrPool.h"
#include "support/TestSockets.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using testsock::Eventually;
using testsock::TClient;

// Reads one line and answers "echo <line>", then closes.
void Echo(TIdPeerThread& thread) {
  TIdTCPServerConnection& connection = *thread.Connection();
  const std::string line = connection.ReadLine();
  connection.WriteLine("echo " + line);
  connection.CloseConnection();
}

bool Served(int port, const std::string& text, const char* from = nullptr) {
  TClient client(port, from);
  return client.Connected() && client.Send(text + "\r\n") && client.ReceiveAll() == "echo " + text + "\r\n";
}

// A server on 127.0.0.1 at a port the system chooses.
class TIdTCPServerTest : public ::testing::Test {
protected:
  TIdTCPServerTest() {
    TIdSocketHandle& binding = Server.Bindings().Add();
    binding.IP = "127.0.0.1";
    Server.OnExecute = Echo;
    Server.OnException = [this](TIdPeerThread&, const std::exception& error) {
      const auto* engineError = dynamic_cast<const EIdException*>(&error);
      std::lock_guard<std::mutex> lock(FLock);
      FExceptions.push_back(engineError ? engineError->ClassName() : "other");
    };
  }
  ~TIdTCPServerTest() override {
    Release = true;
    Server.SetActive(false);
  }

  int Port() { return Server.Bindings()[0].Port; }
  std::vector<std::string> Exceptions() {
    std::lock_guard<std::mutex> lock(FLock);
    return FExceptions;
  }

  TIdTCPServer Server;
  std::atomic<bool> Release{false};

private:
  std::mutex FLock;
  std::vector<std::string> FExceptions;  // guarded by FLock
};

// Serving
TEST_F(TIdTCPServerTest, ServesAClientThroughOnExecute) {
  Server.SetActive(true);
  ASSERT_TRUE(Server.Active());
  ASSERT_NE(Port(), 0);
  EXPECT_TRUE(Served(Port(), "hello"));
  EXPECT_TRUE(Served(Port(), "again"));
}

// An answer's tail, released at its end, leaves at once: it does not wait for the client to
// acknowledge the segments before it, which a client waiting for the answer delays.
TEST_F(TIdTCPServerTest, AcceptedConnectionsSendWithoutNaglesDelay) {
  Server.OnExecute = [](TIdPeerThread& thread) {
    TIdTCPServerConnection& connection = *thread.Connection();
    int on = 0;
    socklen_t length = sizeof on;
    getsockopt(connection.SocketHandle(), IPPROTO_TCP, TCP_NODELAY, &on, &length);
    connection.WriteLine(on != 0 ? "nodelay" : "nagle");
    connection.CloseConnection();
  };
  Server.SetActive(true);
  TClient client(Port());
  ASSERT_TRUE(client.Connected());
  EXPECT_EQ(client.ReceiveAll(), "nodelay\r\n");
}

TEST_F(TIdTCPServerTest, ClientThatLeavesEndsItsThreadQuietly) {
  std::atomic<int> disconnects{0};
  Server.OnDisconnect = [&](TIdPeerThread&) { ++disconnects; };
  Server.SetActive(true);
  {
    TClient client(Port());
    ASSERT_TRUE(client.Connected());
  }
  ASSERT_TRUE(Eventually([&] { return disconnects == 1 && Server.PeerThreadCount() == 0; }));
  EXPECT_TRUE(Server.ThreadMgr()->LiveThreads().IsEmpty());
  EXPECT_EQ(Exceptions(), std::vector<std::string>{"EIdConnClosedGracefully"});
}

TEST_F(TIdTCPServerTest, MissingExecuteHandlerEndsTheConnection) {
  Server.OnExecute = nullptr;
  Server.SetActive(true);
  TClient client(Port());
  EXPECT_EQ(client.ReceiveAll(), "");
  ASSERT_TRUE(Eventually([&] { return Server.PeerThreadCount() == 0; }));
  EXPECT_EQ(Exceptions(), std::vector<std::string>{"EIdNoExecuteSpecified"});
}

TEST_F(TIdTCPServerTest, MaxConnectionsRefusesASecondClientAndKeepsAccepting) {
  Server.MaxConnections = 1;
  Server.MaxConnectionReply.Text = {"busy"};
  Server.SetActive(true);
  TClient first(Port());
  ASSERT_TRUE(Eventually([&] { return Server.PeerThreadCount() == 1; }));
  TClient second(Port());
  EXPECT_EQ(second.ReceiveAll(), "busy\r\n");
  ASSERT_TRUE(first.Send("one\r\n"));
  EXPECT_EQ(first.ReceiveAll(), "echo one\r\n");
  ASSERT_TRUE(Eventually([&] { return Server.PeerThreadCount() == 0; }));
  EXPECT_TRUE(Served(Port(), "three"));
}

TEST_F(TIdTCPServerTest, OneAddressCannotTakeEveryConnection) {
  Server.MaxConnectionsPerAddress = 2;
  Server.SetActive(true);
  TClient first(Port()), second(Port());
  ASSERT_TRUE(Eventually([&] { return Server.PeerThreadCount() == 2; }));
  // The third from the same address is closed at once; another address is still served.
  TClient third(Port());
  EXPECT_EQ(third.ReceiveAll(), "");
  EXPECT_TRUE(Served(Port(), "other", "127.0.0.2"));
  // A connection that ends gives its place back.
  first.Close();
  ASSERT_TRUE(Eventually([&] { return Server.PeerThreadCount() == 1; }));
  EXPECT_TRUE(Served(Port(), "again"));
}

// Regression: when accept failed for want of descriptors, the listener tried again at once,
// forever, taking a whole core; now it rests between tries and serves once descriptors return.
TEST_F(TIdTCPServerTest, ListenerRestsWhileOutOfDescriptors) {
#if defined(__SANITIZE_ADDRESS__)
  // The undefined-behaviour checks open a pipe to test memory: with no descriptor left they
  // report every first virtual call as a bad object.
  GTEST_SKIP() << "needs a process whose checks take no descriptors";
#endif
  // Shared with the listener, which may outlive this body when an assertion ends it early.
  const auto failures = std::make_shared<std::atomic<int>>(0);
  Server.OnListenException = [failures](TIdListenerThread&, const std::exception&) { ++*failures; };
  Server.SetActive(true);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  // A new descriptor takes the lowest free number and fails at the limit: room for the client's
  // socket only, and the server's accept finds none left.
  const int lowestFree = ::dup(0);
  ::close(lowestFree);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowestFree) + 1;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  TClient client(Port());
  std::this_thread::sleep_for(std::chrono::milliseconds(550));
  const int whileOut = *failures;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_TRUE(client.Connected());
  EXPECT_GE(whileOut, 1);
  EXPECT_LE(whileOut, 7);
  ASSERT_TRUE(client.Send("late\r\n"));
  EXPECT_EQ(client.ReceiveAll(), "echo late\r\n");
}

// Activation and deactivation
TEST_F(TIdTCPServerTest, ReactivationListensOnTheNewDefaultPortOnly) {
  TIdTCPServer server;  // no configured binding: every local address at DefaultPort
  server.OnExecute = Echo;
  const int firstPort = testsock::FreePort();
  server.SetDefaultPort(firstPort);
  server.SetActive(true);
  EXPECT_TRUE(Served(firstPort, "first"));
  server.SetActive(false);
  EXPECT_EQ(server.Bindings().Count(), 0u);
  EXPECT_EQ(server.ThreadMgr(), nullptr);  // the implicit manager goes with the threads
  EXPECT_FALSE(TClient(firstPort).Connected());

  const int secondPort = testsock::FreePort();
  server.SetDefaultPort(secondPort);
  server.SetActive(true);
  server.SetActive(true);  // already active: nothing happens
  EXPECT_EQ(server.Bindings().Count(), 1u);
  EXPECT_TRUE(Served(secondPort, "second"));
  EXPECT_FALSE(TClient(firstPort).Connected());
  server.SetActive(false);
}

// Without a configured binding one socket takes both families, and names an IPv4 client by its
// own dotted address, not the IPv4-mapped IPv6 one.
TEST_F(TIdTCPServerTest, DefaultBindingServesIPv4AndIPv6OnOneSocket) {
  TIdComponent use;
  if (GStack()->AnyAddressVersion() != Id_IPv6) GTEST_SKIP() << "this machine has no IPv6";
  TIdTCPServer server;
  server.OnExecute = [](TIdPeerThread& thread) {
    TIdTCPServerConnection& connection = *thread.Connection();
    connection.WriteLine(connection.ClientAddress());
    connection.CloseConnection();
  };
  const int port = testsock::FreePort();
  server.SetDefaultPort(port);
  server.SetActive(true);
  ASSERT_EQ(server.Bindings().Count(), 1u);
  EXPECT_EQ(server.Bindings()[0].IPVersion, Id_IPv6);
  EXPECT_EQ(TClient(port).ReceiveAll(), "127.0.0.1\r\n");
  EXPECT_EQ(TClient(port, "127.0.0.2").ReceiveAll(), "127.0.0.2\r\n");
  EXPECT_EQ(TClient(port, "::1").ReceiveAll(), "::1\r\n");
  server.SetActive(false);
}

TEST_F(TIdTCPServerTest, TakenPortRaisesCouldNotBindAndStaysInactive) {
  TIdComponent use;
  TIdSocketHandle taken;
  taken.IP = "127.0.0.1";
  taken.AllocateHandle();
  taken.BindHandle();
  taken.ListenOn(1);
  TIdTCPServer server;
  server.OnExecute = Echo;
  server.SetDefaultPort(taken.Port);
  try {
    server.SetActive(true);
    FAIL() << "no exception";
  } catch (const EIdCouldNotBindSocket& error) {
    EXPECT_STREQ(error.what(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(server.Active());
  EXPECT_EQ(server.Bindings().Count(), 0u);

  const int port = taken.Port;
  taken.Reset();
  server.SetActive(true);
  EXPECT_TRUE(Served(port, "free again"));
  server.SetActive(false);
}

// Regression: the server closes first, so the port sat in TIME_WAIT and a stop followed by a
// start on the same port failed for a minute.
TEST_F(TIdTCPServerTest, RestartsOnTheSamePortRightAfterServing) {
  TIdTCPServer server;
  server.OnExecute = Echo;
  server.SetDefaultPort(testsock::FreePort());
  server.SetActive(true);
  ASSERT_TRUE(Served(server.DefaultPort(), "first"));
  server.SetActive(false);
  server.SetActive(true);
  EXPECT_TRUE(Served(server.DefaultPort(), "again"));
  server.SetActive(false);
}

TEST_F(TIdTCPServerTest, DeactivationClosesIdleAndMidRequestClients) {
  Server.SetActive(true);
  TClient idle(Port());
  TClient midRequest(Port());
  ASSERT_TRUE(midRequest.Send("GET /"));
  ASSERT_TRUE(Eventually([&] { return Server.PeerThreadCount() == 2; }));
  Server.SetActive(false);  // no EIdTerminateThreadTimeout
  EXPECT_FALSE(Server.Active());
  EXPECT_EQ(idle.ReceiveAll(), "");
  EXPECT_EQ(midRequest.ReceiveAll(), "");
  EXPECT_FALSE(TClient(Port()).Connected());
}

TEST_F(TIdTCPServerTest, DeactivationGivesUpAfterTerminateWaitTime) {
  // A handler that ignores its connection keeps its thread past the wait.
  const auto serving = std::make_shared<std::atomic<bool>>(false);
  Server.OnExecute = [this, serving](TIdPeerThread& thread) {
    *serving = true;
    while (!Release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    thread.Connection()->CloseConnection();
  };
  Server.TerminateWaitTime = 500;
  Server.SetActive(true);
  TClient client(Port());
  // In the handler, not merely counted: a thread stopped before it gets there ends at once.
  ASSERT_TRUE(Eventually([&] { return serving->load(); }));
  try {
    Server.SetActive(false);
    FAIL() << "no exception";
  } catch (const EIdTerminateThreadTimeout& error) {
    EXPECT_STREQ(error.what(), "Terminate Thread Timeout");
  }
  EXPECT_TRUE(Server.Active());
  EXPECT_NE(Server.ThreadMgr(), nullptr);  // still used by the running thread
  Release = true;
  Server.SetActive(false);
  EXPECT_FALSE(Server.Active());
}

// Load
TEST_F(TIdTCPServerTest, ManyClientsAtOnceAreServedThenStoppedCleanly) {
  Server.SetActive(true);
  constexpr int kClients = 80;
  std::atomic<int> served{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      if (Served(Port(), "client " + std::to_string(i))) ++served;
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(served, kClients);
  Server.SetActive(false);
  EXPECT_TRUE(Server.PeerThreadCount() == 0);
}

TEST_F(TIdTCPServerTest, RepeatedActivationUnderLoad) {
  Server.ReuseSocket = rsTrue;  // connections the server closed keep the port in TIME_WAIT
  Server.SetActive(true);
  const int port = Port();
  std::atomic<bool> stop{false};
  std::atomic<int> served{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 8; ++i) {
    clients.emplace_back([&] {
      while (!stop) {
        TClient client(port);
        if (client.Connected() && client.Send("load\r\n") && client.ReceiveAll() == "echo load\r\n") ++served;
      }
    });
  }
  for (int cycle = 0; cycle < 5; ++cycle) {
    SCOPED_TRACE(cycle);
    ASSERT_TRUE(Eventually([&] { return served > cycle * 5; }));
    Server.SetActive(false);
    EXPECT_TRUE(Server.PeerThreadCount() == 0);
    Server.SetActive(true);
  }
  stop = true;
  for (std::thread& client : clients) client.join();
  Server.SetActive(false);
}

// The pool of connection threads
class TIdThreadMgrPoolTest : public TIdTCPServerTest {
protected:
  TIdThreadMgrPoolTest() {
    Server.SetThreadMgr(&Pool);
    Server.OnExecute = [this](TIdPeerThread& thread) {
      {
        std::lock_guard<std::mutex> lock(FThreadsLock);
        FThreads.push_back(std::this_thread::get_id());
      }
      if (FailNext.exchange(false)) throw std::runtime_error("failed");
      Echo(thread);
    };
  }
  ~TIdThreadMgrPoolTest() override { Server.SetActive(false); }  // before the pool goes

  std::vector<std::thread::id> Threads() {
    std::lock_guard<std::mutex> lock(FThreadsLock);
    return FThreads;
  }

  static constexpr std::chrono::milliseconds QuietTime{50};
  std::atomic<int> QuietCalls{0};
  TIdThreadMgrPool Pool{2, QuietTime, [this] { ++QuietCalls; }};
  std::atomic<bool> FailNext{false};

private:
  std::mutex FThreadsLock;
  std::vector<std::thread::id> FThreads;  // guarded by FThreadsLock
};

TEST_F(TIdThreadMgrPoolTest, OneThreadServesConnectionAfterConnection) {
  Server.SetActive(true);
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(Served(Port(), "n" + std::to_string(i)));
    ASSERT_TRUE(Eventually([&] { return Pool.IdleCount() == 1; }));
  }
  const auto threads = Threads();
  ASSERT_EQ(threads.size(), 5u);
  for (const std::thread::id id : threads) EXPECT_EQ(id, threads.front());
  // A run that fails leaves the thread for the next connection too.
  FailNext = true;
  TClient failing(Port());
  ASSERT_TRUE(failing.Send("x\r\n"));
  ASSERT_TRUE(Eventually([&] { return Threads().size() == 6 && Pool.IdleCount() == 1; }));
  ASSERT_TRUE(Served(Port(), "after"));
  EXPECT_EQ(Threads().back(), threads.front());
}

TEST_F(TIdThreadMgrPoolTest, KeepsAtMostItsSizeAndEndsThemAllOnStop) {
  Server.SetActive(true);
  {
    std::vector<std::unique_ptr<TClient>> clients;
    for (int i = 0; i < 5; ++i) clients.push_back(std::make_unique<TClient>(Port()));
    ASSERT_TRUE(Eventually([&] { return Server.PeerThreadCount() == 5; }));
  }
  ASSERT_TRUE(Eventually([&] { return Server.PeerThreadCount() == 0 && Pool.IdleCount() == 2; }));
  Server.SetActive(false);
  EXPECT_EQ(Pool.IdleCount(), 0u);
  // Started again, the same pool serves again.
  Server.SetActive(true);
  EXPECT_TRUE(Served(Port(), "again"));
}

// What a burst of connections left free goes back once the server has stayed quiet, not while a
// connection runs and not again and again while nothing happens.
TEST_F(TIdThreadMgrPoolTest, CallsOnQuietOnceTheLastConnectionHasEnded) {
  Server.SetActive(true);
  {
    TClient held(Port());  // waits in ReadLine until it goes
    ASSERT_TRUE(Eventually([&] { return Server.PeerThreadCount() == 1; }));
    std::this_thread::sleep_for(QuietTime * 4);
    EXPECT_EQ(QuietCalls, 0);
  }
  ASSERT_TRUE(Eventually([&] { return QuietCalls == 1; }));
  std::this_thread::sleep_for(QuietTime * 4);
  EXPECT_EQ(QuietCalls, 1);
  ASSERT_TRUE(Served(Port(), "next"));
  EXPECT_TRUE(Eventually([&] { return QuietCalls == 2; }));
}

}  // namespace
