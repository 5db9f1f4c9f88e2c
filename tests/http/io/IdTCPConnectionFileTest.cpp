// WriteFromFile block by block and through the platform's file transmit call: the same bytes,
// the same end for a file that shrinks, and a peer that has gone is an error, never a signal.

#include "http/io/AcceptedConnection.h"
#include "http/net/IdException.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

namespace {

// A server-side connection accepted from a plain client, and a scratch folder.
class WriteFromFileTest : public TAcceptedConnectionTest<::testing::TestWithParam<bool>> {
protected:
  void SetUp() override {
    FFolder = std::filesystem::temp_directory_path() / ("velmora-sendfile-" + std::to_string(::getpid()));
    std::filesystem::create_directories(FFolder);
    TAcceptedConnectionTest::SetUp();
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
  }

  bool PlatformTransfer() const { return GetParam(); }

  // A file of size bytes whose pattern shows misplaced or repeated blocks.
  std::string File(const std::string& name, std::size_t size, std::string* content = nullptr) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 32768) % 26);
    std::ofstream(FFolder / name, std::ios::binary) << bytes;
    if (content != nullptr) *content = std::move(bytes);
    return (FFolder / name).string();
  }

  std::filesystem::path FFolder;
};

INSTANTIATE_TEST_SUITE_P(BlocksAndPlatform, WriteFromFileTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Platform" : "Blocks"; });

TEST_P(WriteFromFileTest, SendsExactlyTheFilesBytesAfterWhatWentBefore) {
  for (std::size_t size : {0u, 1u, 32768u, 32769u, 300000u}) {
    SCOPED_TRACE(size);
    std::string content;
    const std::string path = File("f" + std::to_string(size), size, &content);
    Connection.WriteText("head\r\n");
    EXPECT_EQ(Connection.WriteFromFile(path, PlatformTransfer()), static_cast<std::int64_t>(size));
    EXPECT_EQ(Client->Receive(6 + size), "head\r\n" + content);
  }
  Connection.CloseConnection();
  EXPECT_EQ(Client->ReceiveAll(), "");  // nothing after the last byte
}

TEST_P(WriteFromFileTest, FileThatShrinksWhileSentEndsWithNoDataToRead) {
  constexpr std::size_t kSize = 16 << 20, kShrunk = 4 << 20;  // page multiples: no partial page
  std::string content;
  const std::string path = File("shrinks", kSize, &content);
  // A small send buffer and a client that does not read hold the sender back early in the file.
  const int sendBuffer = 64 << 10;
  ::setsockopt(Connection.SocketHandle(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
  auto sending = std::async(std::launch::async, [&] {
    std::string outcome;
    try {
      Connection.WriteFromFile(path, PlatformTransfer());
      outcome = "whole file";
    } catch (const EIdException& error) {
      outcome = error.ClassName();
    }
    Connection.CloseConnection();
    return outcome;
  });
  std::string received = Client->Receive(1);  // the transfer is under way
  ASSERT_EQ(received.size(), 1u);
  std::filesystem::resize_file(path, kShrunk);
  received += Client->ReceiveAll();
  EXPECT_EQ(sending.get(), "EIdNoDataToRead");
  EXPECT_EQ(received.size(), kShrunk);
  EXPECT_TRUE(received == content.substr(0, kShrunk));
}

TEST_P(WriteFromFileTest, PeerThatHasGoneIsASocketErrorNotASignal) {
  // This thread does not hold SIGPIPE back; a signal would end the test program here.
  const std::string path = File("gone", 100000);
  ASSERT_EQ(::shutdown(Connection.SocketHandle(), SHUT_WR), 0);
  try {
    Connection.WriteFromFile(path, PlatformTransfer());
    FAIL() << "the file went to a socket shut down for sending";
  } catch (const EIdSocketError& error) {
    EXPECT_EQ(error.LastError, Id_WSAECONNRESET);
  }
  sigset_t mask, pending;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  sigpending(&pending);
  EXPECT_EQ(sigismember(&mask, SIGPIPE), 0) << "the thread's signal mask was not given back";
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

}  // namespace
