#include "http/net/IdComponent.h"
#include "http/net/IdException.h"
#include "http/net/IdSocketHandle.h"
#include "http/net/IdStackLinux.h"
#include "support/TestSockets.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <sys/socket.h>

namespace {

// A stack whose host look-up is recorded instead of asking the resolver.
class TRecordingStack : public TIdStackLinux {
public:
  std::string HostByName(const std::string& name) override {
    LookedUp = name;
    return "10.1.2.3";
  }
  std::string LookedUp;
};

// Error messages
TEST(TIdStack, ErrorMessageForKnownNumberHasNumberLineAndText) {
  TIdComponent use;
  EXPECT_EQ(GStack()->ErrorMessageFor(10048), "Socket Error # 10048\r\nAddress already in use.");
  EXPECT_EQ(GStack()->ErrorMessageFor(11001), "Socket Error # 11001\r\nHost not found.");
  EXPECT_EQ(GStack()->ErrorMessageFor(10035), "Socket Error # 10035\r\nOperation would block. ");
  EXPECT_EQ(GStack()->ErrorMessageFor(10066), "Socket Error # 10066\r\nDirectory not empty");
}

TEST(TIdStack, ErrorMessageForNumberWithoutTextEndsInCrLf) {
  TIdComponent use;
  EXPECT_EQ(GStack()->ErrorMessageFor(10005), "Socket Error # 10005\r\n");
}

// Native errors become Windows sockets numbers
TEST(TIdStackLinux, TranslatesNativeErrors) {
  const struct {
    int native, windows;
  } cases[] = {{EINTR, 10004},      {EBADF, 10009},      {EAGAIN, 10035},      {ENOTSOCK, 10038},
               {EADDRINUSE, 10048}, {ECONNABORTED, 10053}, {ECONNRESET, 10054}, {EPIPE, 10054},
               {ESHUTDOWN, 10058},  {ENOTEMPTY, 10066}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.native);
    EXPECT_EQ(TIdStackLinux::TranslateErrno(c.native), c.windows);
  }
}

TEST(TIdStack, CheckSocketResultAcceptsListedErrorsAndRaisesOthers) {
  TIdComponent use;
  TIdStack& stack = *GStack();
  EXPECT_FALSE(stack.CheckSocketResult(0));
  EXPECT_TRUE(stack.CheckSocketResult(stack.SockClose(-1), {10053, 10009}));
  EXPECT_EQ(stack.LastError(), 10009);
  try {
    stack.CheckSocketResult(stack.SockClose(-1), {10053, 10054});
    FAIL() << "no exception";
  } catch (const EIdSocketError& error) {
    EXPECT_EQ(error.LastError, 10009);
    EXPECT_STREQ(error.what(), "Socket Error # 10009\r\nBad file number.");
  }
}

// Addresses
TEST(TIdStack, IsDottedQuad) {
  const struct {
    const char* text;
    bool dotted;
  } cases[] = {{"192.168.0.10", true}, {"0.0.0.0", true},   {"255.255.255.255", true}, {"1.2.3", false},
               {"1.2.3.4.5", false},   {"a.b.c.d", false},  {"1.2.3.256", false},      {"1..3.4", false},
               {"", false},            {"1.2.3.", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TIdStack::IsDottedQuad(c.text), c.dotted);
  }
}

TEST(TIdStack, ResolveHostNameAsksTheResolverOnlyForNames) {
  TRecordingStack stack;
  EXPECT_EQ(stack.ResolveHostName("localhost"), "127.0.0.1");
  EXPECT_EQ(stack.ResolveHostName("LocalHost"), "127.0.0.1");
  EXPECT_EQ(stack.ResolveHostName("192.168.0.10"), "192.168.0.10");
  EXPECT_EQ(stack.LookedUp, "");
  EXPECT_EQ(stack.ResolveHostName("1.2.3.256"), "10.1.2.3");
  EXPECT_EQ(stack.LookedUp, "1.2.3.256");
}

TEST(TIdStack, AddressTextRoundTrip) {
  const std::uint8_t bytes[4] = {192, 168, 0, 1};
  EXPECT_EQ(TIdStack::AddressToText(bytes), "192.168.0.1");
  std::uint8_t back[4];
  TIdStack::TextToAddress("10.20.30.40", back);
  EXPECT_EQ(TIdStack::AddressToText(back), "10.20.30.40");
}

// Waiting
TEST(TIdStack, SelectPollsAndLimitsTheSetSize) {
  TIdComponent use;
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  TIdSocketList readList{pair[0]};
  EXPECT_EQ(GStack()->SockSelect(&readList, nullptr, nullptr, 0), 0);
  EXPECT_TRUE(readList.empty());
  ASSERT_EQ(::send(pair[1], "x", 1, 0), 1);
  readList = {pair[0]};
  EXPECT_EQ(GStack()->SockSelect(&readList, nullptr, nullptr, Id_TIMEOUT_INFINITE), 1);
  EXPECT_EQ(readList, TIdSocketList{pair[0]});
  TIdSocketList tooMany(65, pair[0]);
  EXPECT_THROW(GStack()->SockSelect(&tooMany, nullptr, nullptr, 0), EIdStackSetSizeExceeded);
  ::close(pair[0]);
  ::close(pair[1]);
}

TEST(TIdStack, WaitsForOneSocketToBeReadable) {
  TIdComponent use;
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  EXPECT_EQ(GStack()->SockWaitReadable(pair[0], 0), 0);
  EXPECT_EQ(GStack()->SockWaitReadable(pair[0], 20), 0);
  ASSERT_EQ(::send(pair[1], "x", 1, 0), 1);
  EXPECT_EQ(GStack()->SockWaitReadable(pair[0], Id_TIMEOUT_INFINITE), 1);
  char byte;
  ASSERT_EQ(::recv(pair[0], &byte, 1, 0), 1);
  ::shutdown(pair[1], SHUT_WR);
  EXPECT_EQ(GStack()->SockWaitReadable(pair[0], Id_TIMEOUT_INFINITE), 1);  // a close counts
  ::close(pair[0]);
  ::close(pair[1]);
}

// A full socket that does not wait: the sender's own wait ends when the reader makes room.
TEST(TIdStack, ANonBlockingSocketFailsWith10035AndWaitsToBeWritable) {
  TIdComponent use;
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  ASSERT_EQ(GStack()->SockSetBlocking(pair[0], false), 0);
  const std::string block(4096, 'x');
  std::size_t queued = 0;
  while (GStack()->SockSend(pair[0], block.data(), block.size(), 0) > 0) queued += block.size();
  EXPECT_EQ(GStack()->LastPlatformError(), Id_WSAEWOULDBLOCK);
  EXPECT_EQ(GStack()->SockWaitWritable(pair[0], 20), 0);
  std::string drained(queued, '\0');
  for (std::size_t got = 0; got < queued;) got += static_cast<std::size_t>(::recv(pair[1], drained.data(), queued - got, 0));
  EXPECT_EQ(GStack()->SockWaitWritable(pair[0], Id_TIMEOUT_INFINITE), 1);
  ASSERT_EQ(GStack()->SockSetBlocking(pair[0], true), 0);
  EXPECT_EQ(::fcntl(pair[0], F_GETFL) & O_NONBLOCK, 0);
  ::close(pair[0]);
  ::close(pair[1]);
}

// Sending
int CorkOf(int socket) {
  int cork = -1;
  socklen_t length = sizeof cork;
  ::getsockopt(socket, IPPROTO_TCP, TCP_CORK, &cork, &length);
  return cork;
}

TEST(TIdStackLinux, HoldsPartialSendsUntilReleased) {
  TIdComponent use;
  const int socket = GStack()->SockCreate(Id_PF_INET, Id_SOCK_STREAM, 0);
  ASSERT_NE(socket, Id_INVALID_SOCKET);
  EXPECT_EQ(CorkOf(socket), 0);
  GStack()->SockHoldPartialSends(socket, true);
  EXPECT_EQ(CorkOf(socket), 1);
  GStack()->SockHoldPartialSends(socket, false);
  EXPECT_EQ(CorkOf(socket), 0);
  GStack()->SockClose(socket);
  GStack()->SockHoldPartialSends(socket, true);  // a hint only: a closed socket is no error
}

// Lifetime
TEST(TIdStack, ExistsWhileAComponentLives) {
  // Connection threads of earlier tests may still be freeing their last objects.
  ASSERT_TRUE(testsock::Eventually([] { return GStack() == nullptr; }));
  {
    TIdComponent first;
    TIdStack* stack = GStack();
    ASSERT_NE(stack, nullptr);
    {
      TIdComponent second;
      EXPECT_EQ(GStack(), stack);
    }
    EXPECT_EQ(GStack(), stack);
  }
  EXPECT_EQ(GStack(), nullptr);
}

// A machine without IPv6: the family is missing (the socket is refused) or switched off (the
// bind to the unspecified address is refused). Either way the listening socket is IPv4.
class TNoIPv6Stack : public TIdStackLinux {
public:
  explicit TNoIPv6Stack(int refusedAt) : FRefusedAt(refusedAt) {}
  TIdStackSocketHandle SockCreate(int family, int type, int protocol) override {
    if (family == Id_PF_INET6 && FRefusedAt == Id_WSAEAFNOSUPPORT) return Id_INVALID_SOCKET;
    return TIdStackLinux::SockCreate(family, type, protocol);
  }
  int SockBind(TIdStackSocketHandle s, int family, const std::string& ip, int port) override {
    if (family == Id_PF_INET6 && FRefusedAt == Id_WSAEADDRNOTAVAIL) return Id_SOCKET_ERROR;
    return TIdStackLinux::SockBind(s, family, ip, port);
  }

private:
  const int FRefusedAt;
};

TEST(TIdStack, AnyAddressVersionIsIPv4WithoutIPv6) {
  TIdComponent use;
  for (const int refusedAt : {Id_WSAEAFNOSUPPORT, Id_WSAEADDRNOTAVAIL}) {
    SCOPED_TRACE(refusedAt);
    TNoIPv6Stack stack(refusedAt);
    EXPECT_EQ(stack.AnyAddressVersion(), Id_IPv4);
  }
}

// An IPv6 socket takes IPv4 clients and names them dotted.
TEST(TIdSocketHandle, IPv6HandleTakesIPv4ClientsNamedDotted) {
  TIdComponent use;
  if (GStack()->AnyAddressVersion() != Id_IPv6) GTEST_SKIP() << "this machine has no IPv6";
  TIdSocketHandle listener;
  listener.IPVersion = Id_IPv6;
  listener.AllocateHandle();
  listener.BindHandle();
  listener.ListenOn(4);
  EXPECT_EQ(listener.IP, "::");
  for (const char* from : {"127.0.0.3", "::1"}) {
    SCOPED_TRACE(from);
    testsock::TClient client(listener.Port, from);
    ASSERT_TRUE(client.Connected());
    TIdSocketHandle accepted;
    ASSERT_TRUE(accepted.AcceptFrom(listener.Handle()));
    EXPECT_EQ(accepted.RemoteAddress(), from);
  }
}

}  // namespace
