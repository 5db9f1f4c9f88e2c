#include "http/io/AcceptedConnection.h"
#include "http/io/IdIOHandler.h"
#include "http/net/IdException.h"

#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>

namespace {

class TIdTCPConnectionTest : public TAcceptedConnectionTest<> {
protected:
  void SetUp() override {
    TAcceptedConnectionTest::SetUp();
    Connection.ReadTimeout = testsock::kTimeoutSeconds * 1000;  // a fault fails instead of hanging
  }

  // Sends data from the client and, with close set, ends the client's sending.
  void Peer(const std::string& data, bool close) {
    ASSERT_TRUE(Client->Send(data));
    if (close) Client->ShutdownSend();
  }
};

bool DescriptorOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

// Lines
TEST_F(TIdTCPConnectionTest, ReadLineEndsAtCrLfOrLf) {
  Peer("GET / HTTP/1.1\r\nHost: a\n\r\nlast\r\r\n", false);
  EXPECT_EQ(Connection.ReadLine(), "GET / HTTP/1.1");
  EXPECT_EQ(Connection.ReadLine(), "Host: a");
  EXPECT_EQ(Connection.ReadLine(), "");
  EXPECT_EQ(Connection.ReadLine(), "last\r");  // only one CR goes with the LF
}

TEST_F(TIdTCPConnectionTest, LineLimitCountsEverythingBeforeTheLf) {
  Peer(std::string(16384, 'a') + "\n", false);
  EXPECT_EQ(Connection.ReadLine().size(), 16384u);
  Peer(std::string(16384, 'b') + "\r\n", false);
  EXPECT_THROW(Connection.ReadLine(), EIdReadLnMaxLineLengthExceeded);
}

TEST_F(TIdTCPConnectionTest, LineOneByteOverTheLimitRaises) {
  Peer(std::string(16385, 'a') + "\n", false);
  try {
    Connection.ReadLine();
    FAIL() << "no exception";
  } catch (const EIdReadLnMaxLineLengthExceeded& error) {
    EXPECT_STREQ(error.what(), "Max line length exceeded.");
  }
}

TEST_F(TIdTCPConnectionTest, SplitActionReturnsTheFirstPart) {
  Connection.MaxLineAction = maSplit;
  Peer("abcdefgh\n", false);
  EXPECT_EQ(Connection.ReadLine("\n", -1, 5), "abcde");
  EXPECT_TRUE(Connection.LineWasSplit());
  EXPECT_EQ(Connection.ReadLine(), "fgh");
  EXPECT_FALSE(Connection.LineWasSplit());
}

TEST_F(TIdTCPConnectionTest, PeerCloseMidLineKeepsThePiece) {
  Peer("GET /", true);
  EXPECT_EQ(Connection.ReadLine(), "");
  EXPECT_TRUE(Connection.LineTimedOut());
  EXPECT_EQ(Connection.InputQueue().Size(), 5u);
  EXPECT_FALSE(Connection.IsConnected());
}

TEST_F(TIdTCPConnectionTest, PeerCloseWithNothingQueuedRaises) {
  Peer("", true);
  try {
    Connection.ReadLine();
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& error) {
    EXPECT_STREQ(error.what(), "Connection Closed Gracefully.");
  }
}

TEST_F(TIdTCPConnectionTest, ReadLineWithExplicitTimeoutWaitsAgain) {
  auto late = std::async(std::launch::async, [this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Peer("late\n", false);
  });
  EXPECT_EQ(Connection.ReadLine("\n", 10), "late");
  late.get();
}

TEST_F(TIdTCPConnectionTest, ReadTimeoutRaisesWhenNothingArrives) {
  Connection.ReadTimeout = 20;
  EXPECT_THROW(Connection.ReadLine(), EIdReadTimeout);
}

// Reads take what has arrived before they wait on the socket.
TEST_F(TIdTCPConnectionTest, TryRecvTakesWhatHasArrivedWithoutWaiting) {
  TIdIOHandler& handler = *Connection.IOHandler();
  char buffer[16];
  EXPECT_EQ(handler.TryRecv(buffer, sizeof buffer), -1);
  EXPECT_EQ(GStack()->LastPlatformError(), Id_WSAEWOULDBLOCK);
  Peer("abc", true);
  ASSERT_TRUE(handler.Readable(testsock::kTimeoutSeconds * 1000));
  ASSERT_EQ(handler.TryRecv(buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_EQ(handler.TryRecv(buffer, sizeof buffer), 0);  // the peer's close
  Connection.CloseSocketOnly();
  EXPECT_THROW(handler.TryRecv(buffer, sizeof buffer), EIdConnClosedGracefully);
}

TEST_F(TIdTCPConnectionTest, CaptureLinesStopsAtDelimiterAndUnstuffsDots) {
  Peer("Host: a\r\n..dots\r\n.single\r\n\r\nbody", false);
  std::vector<std::string> lines;
  EXPECT_EQ(Connection.CaptureLines(lines, "", true), 3);
  EXPECT_EQ(lines, (std::vector<std::string>{"Host: a", ".dots", ".single"}));
  EXPECT_EQ(Connection.InputQueue().Extract(4), "body");
}

// Counted and stream reads
TEST_F(TIdTCPConnectionTest, ReadIntoStreamWithCountRaisesWhenThePeerClosesEarly) {
  Peer("abcd", true);
  TIdStringStream stream;
  EXPECT_THROW(Connection.ReadIntoStream(stream, 10), EIdConnClosedGracefully);
  EXPECT_EQ(stream.Size(), 0);  // cut back to its position
  EXPECT_EQ(Connection.InputQueue().Size(), 4u);
}

TEST_F(TIdTCPConnectionTest, ReadIntoStreamUntilClosedTakesEverything) {
  Peer("abcd", true);
  TIdStringStream stream;
  Connection.ReadIntoStream(stream, -1, true);
  EXPECT_EQ(stream.DataString(), "abcd");
  EXPECT_EQ(stream.Size(), 4);
}

TEST_F(TIdTCPConnectionTest, ReadIntoStreamTakesQueuedBytesFirstAndStopsAtCount) {
  const std::string body(70000, 'x');
  auto sender = std::async(std::launch::async, [&] { Peer("HEAD\n" + body + "tail", false); });
  EXPECT_EQ(Connection.ReadLine(), "HEAD");
  TIdStringStream stream("prefix");
  stream.SetPosition(6);
  Connection.ReadIntoStream(stream, static_cast<std::int64_t>(body.size()));
  sender.get();
  EXPECT_EQ(stream.DataString(), "prefix" + body);
  char tail[4];
  Connection.ReadBytes(tail, 4);
  EXPECT_EQ(std::string(tail, 4), "tail");
}

// Writing
TEST_F(TIdTCPConnectionTest, EmptyTextWritesNothingAndEmptyLineWritesCrLf) {
  Connection.WriteText("");
  Connection.WriteLine("");
  Connection.WriteLine("ok");
  Connection.CloseConnection();
  EXPECT_EQ(Client->ReceiveAll(), "\r\nok\r\n");
}

TEST_F(TIdTCPConnectionTest, BufferedWritingSendsNothingBeforeTheEnd) {
  Connection.BeginBufferedWrite(-1);
  Connection.WriteLine("HTTP/1.1 200 OK");
  Connection.WriteText("Content-Length: 2\r\n\r\n");
  Connection.WriteText("hi");
  EXPECT_EQ(Client->ReceiveWaiting(), "");
  Connection.EndBufferedWrite();
  EXPECT_FALSE(Connection.BufferedWriting());
  EXPECT_EQ(Client->Receive(40), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi");
}

TEST_F(TIdTCPConnectionTest, BufferedWritingFlushesAtTheThreshold) {
  Connection.BeginBufferedWrite(4);
  Connection.WriteText("ab");
  EXPECT_EQ(Client->ReceiveWaiting(), "");
  Connection.WriteText("cdef");
  EXPECT_EQ(Client->Receive(4), "abcd");
  Connection.DiscardBufferedWrite();
  Connection.EndBufferedWrite();
  Connection.WriteText("!");
  EXPECT_EQ(Client->Receive(1), "!");
}

TEST_F(TIdTCPConnectionTest, WriteFromStreamSendsFromThePositionInBlocks) {
  std::string data(80000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
  TIdStringStream stream(data);
  stream.SetPosition(1000);
  auto reader = std::async(std::launch::async, [this] { return Client->Receive(79000); });
  Connection.WriteFromStream(stream);
  EXPECT_EQ(reader.get(), data.substr(1000));
  auto second = std::async(std::launch::async, [this] { return Client->Receive(10); });
  Connection.WriteFromStream(stream, true, false, 10);
  EXPECT_EQ(second.get(), data.substr(0, 10));
}

TEST_F(TIdTCPConnectionTest, WritingAfterCloseConnectionRaisesNotConnected) {
  Connection.CloseConnection();
  EXPECT_FALSE(Connection.IsConnected());
  EXPECT_EQ(Connection.IOHandler(), nullptr);
  try {
    Connection.WriteText("x");
    FAIL() << "no exception";
  } catch (const EIdNotConnected& error) {
    EXPECT_STREQ(error.what(), "Not Connected");
  }
}

// Closing from another thread
// Regression: a close from the stopping thread used to close the descriptor under a waiting
// reader, whose number the next accepted client could then receive.
TEST_F(TIdTCPConnectionTest, CloseFromAnotherThreadWakesTheReaderAndKeepsTheDescriptor) {
  const int fd = Connection.SocketHandle();
  ASSERT_NE(fd, Id_INVALID_SOCKET);
  auto reader = std::async(std::launch::async, [this]() -> std::string {
    try {
      Connection.ReadLine();
      return "no exception";
    } catch (const EIdException& error) {
      return error.ClassName();
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Connection.CloseSocketOnly();
  ASSERT_EQ(reader.wait_for(std::chrono::seconds(testsock::kTimeoutSeconds)), std::future_status::ready);
  const std::string failure = reader.get();
  EXPECT_TRUE(failure == "EIdConnClosedGracefully" || failure == "EIdClosedSocket") << failure;
  EXPECT_TRUE(DescriptorOpen(fd));  // still the reader's until it lets go
  EXPECT_EQ(Client->ReceiveAll(), "");
  Connection.CloseConnection();
  EXPECT_FALSE(DescriptorOpen(fd));
  EXPECT_EQ(Connection.SocketHandle(), Id_INVALID_SOCKET);
}

TEST_F(TIdTCPConnectionTest, WritingToAVanishedPeerRaisesResetWithoutSignal) {
  Client->Close();
  const std::string block(65536, 'x');
  try {
    for (int i = 0; i < 100; ++i) Connection.WriteText(block);
    FAIL() << "no exception";
  } catch (const EIdSocketError& error) {
    EXPECT_EQ(error.LastError, 10054);
  } catch (const EIdConnClosedGracefully&) {
  }
  EXPECT_FALSE(Connection.IsConnected());
}

}  // namespace
