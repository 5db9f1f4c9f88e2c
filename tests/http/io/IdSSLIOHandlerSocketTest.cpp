// The TLS handler against a real OpenSSL client over loopback: the first byte decides the
// transport, the bytes of a TLS session and of a file sent through it arrive whole, a handshake
// that never ends is given up at its limit, and a close from another thread ends every wait.

#include "http/io/IdFileStream.h"
#include "http/io/IdSSLContext.h"
#include "http/io/IdSSLIOHandlerSocket.h"
#include "http/io/IdTCPConnection.h"
#include "http/net/IdException.h"
#include "support/TestCertificate.h"
#include "support/TestSockets.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <pthread.h>
#include <sys/socket.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <thread>

namespace {

// The server's certificate, made once.
const TTestCertificate& Credentials() {
  static const TTestCertificate credentials = MakeSelfSignedCertificate("localhost");
  return credentials;
}

// A blocking TLS client on a connected socket; it offers ALPN http/1.1.
class TTlsClient {
public:
  explicit TTlsClient(int fd) {
    FSession = SSL_new(Context());
    SSL_set_fd(FSession, fd);
  }
  ~TTlsClient() { SSL_free(FSession); }
  bool Connect() { return SSL_connect(FSession) == 1; }
  bool Write(const std::string& text) { return SSL_write(FSession, text.data(), static_cast<int>(text.size())) > 0; }
  // Everything until the server's close_notify (true) or another end (false).
  bool ReadAll(std::string& all) {
    char block[16384];
    for (;;) {
      const int n = SSL_read(FSession, block, sizeof block);
      if (n > 0) {
        all.append(block, static_cast<std::size_t>(n));
        continue;
      }
      return SSL_get_error(FSession, n) == SSL_ERROR_ZERO_RETURN;
    }
  }

private:
  static SSL_CTX* Context() {
    static SSL_CTX* const context = [] {
      SSL_CTX* made = SSL_CTX_new(TLS_client_method());
      static const unsigned char kAlpn[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
      SSL_CTX_set_alpn_protos(made, kAlpn, sizeof kAlpn);
      return made;
    }();
    return context;
  }

  SSL* FSession;
};

class SSLIOHandlerTest : public ::testing::Test {
protected:
  void SetUp() override {
    // As on the engine's threads: a write to a client that has gone is an error, not a signal
    // (the library writes with plain write(2)).
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &FMask);
    FListener.IP = "127.0.0.1";
    FListener.AllocateHandle();
    FListener.BindHandle();
    FListener.ListenOn(4);
    FContext = std::make_shared<const TIdSSLContext>(Credentials().ChainPem, Credentials().KeyPem);
  }

  void TearDown() override {
    const timespec now{0, 0};
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    while (sigtimedwait(&pipe, nullptr, &now) == SIGPIPE) {
    }
    pthread_sigmask(SIG_SETMASK, &FMask, nullptr);
  }

  // The server side of the next connection, with a handshake limit of limitMs.
  TIdSSLIOHandlerSocket* Accept(TIdTCPConnection& connection, int limitMs = 10000) {
    auto handler = std::make_unique<TIdSSLIOHandlerSocket>(FContext, limitMs);
    handler->Open();
    EXPECT_TRUE(handler->Endpoint()->AcceptFrom(FListener.Handle()));
    handler->AfterAccept();
    TIdSSLIOHandlerSocket* raw = handler.get();
    connection.SetIOHandler(std::move(handler));
    return raw;
  }

  sigset_t FMask;
  TIdComponent FUse;
  TIdSocketHandle FListener;
  std::shared_ptr<const TIdSSLContext> FContext;
};

// The server's answer: a line, then a file through the transmit path.
std::string ServeOnce(TIdTCPConnection& connection, const std::string& file, std::int64_t fileSize) {
  const std::string line = connection.ReadLine();
  connection.WriteText("echo " + line + "\n");
  TIdReadOnlyFileStream stream(file);
  connection.WriteFileRange(stream, 0, fileSize, true);
  return line;
}

TEST_F(SSLIOHandlerTest, TlsSessionCarriesLinesAndFilesWholeAndEndsWithCloseNotify) {
  const auto file = std::filesystem::temp_directory_path() / ("velmora-tls-" + std::to_string(::getpid()));
  std::string content(700000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 / 7);
  std::ofstream(file, std::ios::binary) << content;

  testsock::TClient socket(FListener.Port);
  auto client = std::async(std::launch::async, [&] {
    TTlsClient tls(socket.Fd());
    std::string all;
    const bool ok = tls.Connect() && tls.Write("GET / HTTP/1.1\n") && tls.ReadAll(all);
    socket.ShutdownSend();
    return ok ? all : "failed: " + all;
  });
  TIdTCPConnection connection;
  TIdSSLIOHandlerSocket* handler = Accept(connection);
  EXPECT_EQ(ServeOnce(connection, file.string(), static_cast<std::int64_t>(content.size())), "GET / HTTP/1.1");
  EXPECT_EQ(handler->Transport(), TIdTransport::Secure);
  EXPECT_EQ(handler->Protocol(), "http/1.1");
  connection.CloseGracefully(2000, 65536);
  EXPECT_EQ(client.get(), "echo GET / HTTP/1.1\n" + content);
  std::filesystem::remove(file);
}

// Two answers on one session from two files that get the same descriptor number in turn: the
// second sends its own bytes, never what the block of the first still held.
TEST_F(SSLIOHandlerTest, NextFileUnderTheSameDescriptorSendsItsOwnBytes) {
  const auto folder = std::filesystem::temp_directory_path() / ("velmora-tls-fd-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "a") << std::string(100000, 'a');
  std::ofstream(folder / "b") << std::string(100000, 'b');
  testsock::TClient socket(FListener.Port);
  auto client = std::async(std::launch::async, [&] {
    TTlsClient tls(socket.Fd());
    std::string all;
    const bool ok = tls.Connect() && tls.Write("go\n") && tls.ReadAll(all);
    socket.ShutdownSend();
    return ok ? all : "failed";
  });
  TIdTCPConnection connection;
  Accept(connection);
  EXPECT_EQ(connection.ReadLine(), "go");
  {
    TIdReadOnlyFileStream first((folder / "a").string());
    connection.WriteFileRange(first, 0, 50000, true);
  }
  TIdReadOnlyFileStream second((folder / "b").string());
  connection.WriteFileRange(second, 10000, 20000, true);
  connection.CloseGracefully(2000, 1024);
  EXPECT_EQ(client.get(), std::string(50000, 'a') + std::string(20000, 'b'));
  std::filesystem::remove_all(folder);
}

// Large writes leave as many records in one write: a socket that takes only part of them, to a
// client that reads late, must still carry every byte once and in order, through the waits of
// the send limits in between.
TEST_F(SSLIOHandlerTest, RecordsWrittenTogetherArriveWholeThroughASmallSocket) {
  const auto file = std::filesystem::temp_directory_path() / ("velmora-tls-slow-" + std::to_string(::getpid()));
  std::string content(900000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 / 5);
  std::ofstream(file, std::ios::binary) << content;
  const std::string text(600000, 't');

  testsock::TClient socket(FListener.Port);
  const int small = 65536;
  ::setsockopt(socket.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  auto client = std::async(std::launch::async, [&] {
    TTlsClient tls(socket.Fd());
    if (!tls.Connect() || !tls.Write("go\n")) return std::string("failed");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the server's socket fills
    std::string all;
    const bool ok = tls.ReadAll(all);
    socket.ShutdownSend();
    return ok ? all : "failed: " + std::to_string(all.size());
  });
  TIdTCPConnection connection;
  TIdSSLIOHandlerSocket* handler = Accept(connection);
  ::setsockopt(handler->Endpoint()->Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  connection.SetSendLimits(6400, 1);  // waits of 100 ms between tries
  EXPECT_EQ(connection.ReadLine(), "go");
  connection.WriteText(text);
  {
    TIdReadOnlyFileStream stream(file.string());
    connection.WriteFileRange(stream, 1000, static_cast<std::int64_t>(content.size()) - 1000, true);
  }
  connection.WriteText("end");
  connection.CloseGracefully(2000, 65536);
  EXPECT_TRUE(client.get() == text + content.substr(1000) + "end");
  std::filesystem::remove(file);
}

TEST_F(SSLIOHandlerTest, PlainFirstByteLeavesTheRequestWholeForPlainReads) {
  testsock::TClient client(FListener.Port);
  ASSERT_TRUE(client.Send("GET /a HTTP/1.1\r\nHost: x\r\n\r\n"));
  TIdTCPConnection connection;
  TIdSSLIOHandlerSocket* handler = Accept(connection);
  EXPECT_EQ(connection.ReadLine(), "GET /a HTTP/1.1");
  EXPECT_EQ(handler->Transport(), TIdTransport::PlainOnSecurePort);
  connection.WriteText("plain");
  connection.CloseGracefully(500, 1024);
  EXPECT_EQ(client.ReceiveAll(), "plain");
}

// A client that opens a handshake record and never finishes it, and one that sends garbage
// after the record byte: both read as closed connections, the first at the handshake limit.
TEST_F(SSLIOHandlerTest, HandshakeThatNeverEndsOrFailsReadsAsClosed) {
  for (const std::string& opening : {std::string("\x16\x03\x01", 3), std::string("\x16garbage garbage garbage\r\n")}) {
    SCOPED_TRACE(opening.size());
    testsock::TClient client(FListener.Port);
    ASSERT_TRUE(client.Send(opening));
    TIdTCPConnection connection;
    TIdSSLIOHandlerSocket* handler = Accept(connection, 300);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(handler->Readable(5000));
    char byte;
    EXPECT_EQ(handler->TryRecv(&byte, 1), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_THROW(connection.ReadLine(), EIdConnClosedGracefully);
  }
}

TEST_F(SSLIOHandlerTest, WaitEndsWithTheCallersTimeoutBeforeTheHandshakeLimit) {
  testsock::TClient client(FListener.Port);
  TIdTCPConnection connection;
  TIdSSLIOHandlerSocket* handler = Accept(connection);
  EXPECT_FALSE(handler->Readable(50));  // nothing sent yet
  ASSERT_TRUE(client.Send(std::string("\x16\x03\x01", 3)));
  EXPECT_FALSE(handler->Readable(50));  // a handshake under way
  EXPECT_THROW(connection.FillInputBuffer(true, 50, true), EIdReadTimeout);
}

// A reader waiting for a TLS client that sends nothing is woken by a close from another thread,
// as a stopping server does it.
TEST_F(SSLIOHandlerTest, CloseFromAnotherThreadEndsAWaitAtOnce) {
  testsock::TClient socket(FListener.Port);
  auto client = std::async(std::launch::async, [&] { return TTlsClient(socket.Fd()).Connect(); });
  TIdTCPConnection connection;
  Accept(connection);
  EXPECT_FALSE(connection.IOHandler()->Readable(200));  // the handshake completes; no data
  EXPECT_TRUE(client.get());
  auto closer = std::async(std::launch::async, [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    connection.CloseSocketOnly();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_ANY_THROW(connection.ReadLine());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  closer.get();
}

TEST(TIdSSLContext, RefusesMissingOrMismatchedCredentials) {
  EXPECT_THROW(TIdSSLContext("", Credentials().KeyPem), EIdOSSLError);
  EXPECT_THROW(TIdSSLContext(Credentials().ChainPem, ""), EIdOSSLError);
  const std::string otherKey = MakeSelfSignedCertificate("localhost").KeyPem;
  try {
    TIdSSLContext context(Credentials().ChainPem, otherKey);
    ADD_FAILURE() << "a key of another certificate was taken";
  } catch (const EIdOSSLError& error) {
    EXPECT_NE(std::string(error.what()).find("does not belong"), std::string::npos) << error.what();
  }
}

}  // namespace
