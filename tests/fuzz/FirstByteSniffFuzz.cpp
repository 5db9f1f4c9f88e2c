// The first bytes of a connection on a port that speaks TLS: whatever a client sends, plain
// bytes reach the plain reads exactly as sent, a handshake record never yields plain bytes when
// the handshake cannot complete, and nothing waits past the client's end.
// Input: the bytes the client sends before it closes its sending side.

#include "FuzzCheck.h"
#include "http/io/IdSSLContext.h"
#include "http/io/IdSSLIOHandlerSocket.h"
#include "http/io/IdTCPConnection.h"
#include "http/net/IdException.h"
#include "http/net/IdSocketHandle.h"
#include "support/TestCertificate.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>

namespace {

// A listening socket on 127.0.0.1 and a server context, made once for every input.
struct TSetup {
  TIdComponent Use;
  TIdSocketHandle Listener;
  std::shared_ptr<const TIdSSLContext> Context;

  TSetup() {
    signal(SIGPIPE, SIG_IGN);
    // The fuzzer's timer signal would break this thread's socket waits with EINTR, which a
    // server thread never meets; every wait here has its own limit.
    sigset_t timer;
    sigemptyset(&timer);
    sigaddset(&timer, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &timer, nullptr);
    Listener.IP = "127.0.0.1";
    Listener.AllocateHandle();
    Listener.BindHandle();
    Listener.ListenOn(4);
    const TTestCertificate certificate = MakeSelfSignedCertificate("127.0.0.1");
    Context = std::make_shared<const TIdSSLContext>(certificate.ChainPem, certificate.KeyPem);
  }
};

int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    // Thousands of connections a second may use up the ports to connect from: the input is
    // then skipped, not failed.
    FUZZ_CHECK(errno == EADDRNOTAVAIL || errno == EAGAIN);
    ::close(fd);
    return -1;
  }
  // Closed with a reset, so that this end leaves no port waiting.
  const linger reset{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TSetup setup;
  // Within what the socket buffers hold, so that the client's send never waits for the reader.
  const std::string sent(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 32768));
  const int client = Connect(setup.Listener.Port);
  if (client < 0) return -1;
  FUZZ_CHECK(::send(client, sent.data(), sent.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(sent.size()));
  ::shutdown(client, SHUT_WR);

  TIdTCPConnection connection;
  auto handler = std::make_unique<TIdSSLIOHandlerSocket>(setup.Context, 2000);
  handler->Open();
  FUZZ_CHECK(handler->Endpoint()->AcceptFrom(setup.Listener.Handle()));
  handler->AfterAccept();
  TIdSSLIOHandlerSocket* transport = handler.get();
  connection.SetIOHandler(std::move(handler));

  std::string received;
  try {
    for (;;) {
      connection.FillInputBuffer(true, 3000, true);
      TIdManagedBuffer& queue = connection.InputQueue();
      received.append(queue.Memory(), queue.Size());
      queue.Clear();
    }
  } catch (const EIdConnClosedGracefully&) {
    received.append(connection.InputQueue().Memory(), connection.InputQueue().Size());
  } catch (const EIdSocketError&) {
    // The session failed after its handshake: a client's fault, reported as an error.
  }
  const bool handshake = !sent.empty() && sent[0] == '\x16';
  FUZZ_CHECK(transport->Transport() == (handshake ? TIdTransport::Secure : TIdTransport::PlainOnSecurePort));
  if (handshake) {
    // No client that closes mid-handshake completes one, so no plain byte may come through.
    FUZZ_CHECK(received.empty());
  } else {
    FUZZ_CHECK(received == sent);
  }
  ::close(client);
  return 0;
}
