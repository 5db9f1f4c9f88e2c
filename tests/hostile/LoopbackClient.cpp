#include "hostile/LoopbackClient.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace hostile {

namespace {

constexpr std::size_t kBlockSize = 256 * 1024;
// A fast sender must not keep the loop on one connection while the others wait.
constexpr int kReceivesPerTurn = 4;
constexpr std::chrono::milliseconds kLongestPoll{50};
constexpr std::chrono::milliseconds kAcknowledgementPoll{1};
// Well below any listen queue the server asks for (15 at the least): connections in their
// handshake alone never fill it.
constexpr std::size_t kMostPending = 8;

// An IPv4 address or, when it holds a ":", an IPv6 one.
struct TSocketAddress {
  sockaddr_storage Storage{};
  socklen_t Length = 0;
  const sockaddr* Address() const { return reinterpret_cast<const sockaddr*>(&Storage); }
};

TSocketAddress LoopbackAddress(const std::string& address, int port) {
  TSocketAddress result;
  if (address.find(':') != std::string::npos) {
    auto& ipv6 = reinterpret_cast<sockaddr_in6&>(result.Storage);
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET6, address.c_str(), &ipv6.sin6_addr);
    result.Length = sizeof ipv6;
  } else {
    auto& ipv4 = reinterpret_cast<sockaddr_in&>(result.Storage);
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &ipv4.sin_addr);
    result.Length = sizeof ipv4;
  }
  return result;
}

/// A non-blocking socket bound to source whose connect to 127.0.0.1:port (::1 from an IPv6
/// source) has started; -1 when it could not even start.
int StartConnect(const std::string& source, int port) {
  const TSocketAddress from = LoopbackAddress(source, 0);
  const bool ipv6 = from.Storage.ss_family == AF_INET6;
  const int fd = ::socket(from.Storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // The port is chosen at connect, per destination, so thousands of binds to one source
  // address never run out of ports.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &on, sizeof on);
  const TSocketAddress to = LoopbackAddress(ipv6 ? "::1" : "127.0.0.1", port);
  if (::bind(fd, from.Address(), from.Length) != 0 ||
      (::connect(fd, to.Address(), to.Length) != 0 && errno != EINPROGRESS)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

TCrowd::TCrowd(int port, std::vector<std::string> sources, std::size_t count, std::string request,
               TReceiver receiver)
    : FPort(port),
      FSources(std::move(sources)),
      FRequest(std::move(request)),
      FReceiver(std::move(receiver)),
      FPeers(count),
      FBlock(kBlockSize) {}

TCrowd::~TCrowd() {
  for (TPeer& peer : FPeers) {
    if (peer.Fd >= 0) ::close(peer.Fd);
  }
}

void TCrowd::RunUntil(TClock::time_point deadline) {
  while (Step(deadline, false)) {
  }
}

bool TCrowd::RunUntilTaken(TClock::time_point deadline) {
  while (Step(deadline, true)) {
  }
  return FOpened == FPeers.size() && FPending == 0;
}

// Opens what the pace allows, then one poll over the open connections; false when there is
// nothing left to wait for.
bool TCrowd::Step(TClock::time_point deadline, bool untilTaken) {
  OpenMore();
  NoteAcknowledged();
  if (untilTaken && FOpened == FPeers.size() && FPending == 0) return false;
  std::vector<pollfd> polled;
  std::vector<std::size_t> indexes;
  for (std::size_t i = 0; i < FOpened; ++i) {
    const TState state = FPeers[i].State;
    if (state == TState::Closed || state == TState::Failed) continue;
    const bool writing = state == TState::Connecting || state == TState::Sending;
    polled.push_back(pollfd{FPeers[i].Fd, static_cast<short>(writing ? POLLIN | POLLOUT : POLLIN), 0});
    indexes.push_back(i);
  }
  const auto now = TClock::now();
  if ((polled.empty() && FOpened == FPeers.size()) || now >= deadline) return false;
  // An acknowledgement wakes no poll, so while connections wait for one, look again soon.
  const auto longest = FPending > 0 ? kAcknowledgementPoll : kLongestPoll;
  const auto wait = std::min(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now), longest);
  if (::poll(polled.data(), polled.size(), static_cast<int>(wait.count())) < 0 && errno != EINTR) return false;
  for (std::size_t k = 0; k < polled.size(); ++k) {
    const short ready = polled[k].revents;
    const std::size_t i = indexes[k];
    if (ready == 0) continue;
    if (FPeers[i].State == TState::Connecting) Connected(i);
    if ((ready & POLLOUT) != 0 && FPeers[i].State == TState::Sending) SendRest(i);
    if ((ready & (POLLIN | POLLHUP | POLLERR)) != 0 && FPeers[i].State != TState::Failed) Receive(i);
  }
  return true;
}

void TCrowd::OpenMore() {
  while (FPending < kMostPending && FOpened < FPeers.size()) {
    const std::size_t index = FOpened++;
    FPeers[index].Fd = StartConnect(FSources[index % FSources.size()], FPort);
    SetState(index, FPeers[index].Fd < 0 ? TState::Failed : TState::Connecting);
  }
}

void TCrowd::NoteAcknowledged() {
  for (std::size_t i = 0; i < FOpened; ++i) {
    int unacknowledged = 0;
    if (FPeers[i].State == TState::Sent && ::ioctl(FPeers[i].Fd, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0)
      SetState(i, TState::Held);
  }
}

void TCrowd::SetState(std::size_t index, TState state) {
  const auto pending = [](TState s) { return s == TState::Connecting || s == TState::Sending || s == TState::Sent; };
  FPending += pending(state) ? 1 : 0;
  FPending -= pending(FPeers[index].State) ? 1 : 0;
  FPeers[index].State = state;
}

void TCrowd::Connected(std::size_t index) {
  int error = 0;
  socklen_t length = sizeof error;
  ::getsockopt(FPeers[index].Fd, SOL_SOCKET, SO_ERROR, &error, &length);
  if (error != 0) {
    End(index, TState::Failed);
    return;
  }
  SetState(index, TState::Sending);
}

void TCrowd::SendRest(std::size_t index) {
  TPeer& peer = FPeers[index];
  while (peer.Sent < FRequest.size()) {
    const ssize_t n = ::send(peer.Fd, FRequest.data() + peer.Sent, FRequest.size() - peer.Sent, MSG_NOSIGNAL);
    if (n < 0) {
      // A reset or a closed peer shows up again at the receive, which ends the connection.
      return;
    }
    peer.Sent += static_cast<std::size_t>(n);
  }
  SetState(index, TState::Sent);
}

void TCrowd::Receive(std::size_t index) {
  TPeer& peer = FPeers[index];
  for (int turn = 0; turn < kReceivesPerTurn; ++turn) {
    const ssize_t n = ::recv(peer.Fd, FBlock.data(), FBlock.size(), 0);
    if (n > 0) {
      FReceiver(index, std::string_view(FBlock.data(), static_cast<std::size_t>(n)));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    End(index, TState::Closed);  // end of stream, or a reset
    return;
  }
}

void TCrowd::End(std::size_t index, TState state) {
  TPeer& peer = FPeers[index];
  ::close(peer.Fd);
  peer.Fd = -1;
  SetState(index, state);
}

std::size_t TCrowd::CountIn(TState state) const {
  return static_cast<std::size_t>(
      std::count_if(FPeers.begin(), FPeers.end(), [state](const TPeer& peer) { return peer.State == state; }));
}

std::size_t TCrowd::Failed() const { return CountIn(TState::Failed); }

std::size_t TCrowd::Closed() const { return CountIn(TState::Closed); }

std::size_t TCrowd::Held() const { return CountIn(TState::Held); }

TExchange Exchange(int port, const std::string& request, std::chrono::milliseconds limit, const std::string& source) {
  TExchange exchange;
  const auto start = TClock::now();
  TCrowd crowd(port, {source}, 1, request,
               [&exchange](std::size_t, std::string_view bytes) { exchange.Answer.append(bytes); });
  crowd.RunUntil(start + limit);
  exchange.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
  exchange.Connected = !crowd.IsFailed(0);
  exchange.ClosedByServer = crowd.IsClosed(0);
  exchange.Sent = crowd.SentBytes(0);
  return exchange;
}

}  // namespace hostile
