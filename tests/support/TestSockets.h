#pragma once
// Plain client sockets for the network tests: 127.0.0.1 and ::1 only, every wait bounded.

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace testsock {

constexpr int kTimeoutSeconds = 10;

/// A client socket connected to 127.0.0.1:port, or to [::1]:port when from is an IPv6 address,
/// closed by its destructor.
class TClient {
public:
  /// from: the loopback address the connection comes from (127.0.0.1 unless given).
  explicit TClient(int port, const char* from = nullptr) {
    const bool ipv6 = from != nullptr && std::string(from).find(':') != std::string::npos;
    FFd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval timeout{kTimeoutSeconds, 0};
    ::setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(FFd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (ipv6) {
      sockaddr_in6 local{};
      local.sin6_family = AF_INET6;
      ::inet_pton(AF_INET6, from, &local.sin6_addr);
      sockaddr_in6 address{};
      address.sin6_family = AF_INET6;
      address.sin6_port = htons(static_cast<uint16_t>(port));
      address.sin6_addr = in6addr_loopback;
      FConnected = ::bind(FFd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                   ::connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      return;
    }
    if (from != nullptr) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      ::inet_pton(AF_INET, from, &local.sin_addr);
      ::bind(FFd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FConnected = ::connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~TClient() { Close(); }
  TClient(const TClient&) = delete;
  TClient& operator=(const TClient&) = delete;

  bool Connected() const { return FConnected; }
  int Fd() const { return FFd; }

  bool Send(const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
      const ssize_t n = ::send(FFd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }
  /// No more sending: the server sees the peer close.
  void ShutdownSend() { ::shutdown(FFd, SHUT_WR); }
  void Close() {
    if (FFd != -1) ::close(FFd);
    FFd = -1;
  }
  /// Everything until the server closes (or the receive timeout passes).
  std::string ReceiveAll() {
    std::string all;
    char block[4096];
    for (;;) {
      const ssize_t n = ::recv(FFd, block, sizeof block, 0);
      if (n <= 0) return all;
      all.append(block, static_cast<std::size_t>(n));
    }
  }
  /// Up to count bytes, waiting at most the receive timeout.
  std::string Receive(std::size_t count) {
    std::string all;
    char block[4096];
    while (all.size() < count) {
      const ssize_t n = ::recv(FFd, block, std::min(sizeof block, count - all.size()), 0);
      if (n <= 0) break;
      all.append(block, static_cast<std::size_t>(n));
    }
    return all;
  }
  /// Bytes that have arrived already, without waiting.
  std::string ReceiveWaiting() {
    std::string all;
    char block[4096];
    ssize_t n;
    while ((n = ::recv(FFd, block, sizeof block, MSG_DONTWAIT)) > 0) all.append(block, static_cast<std::size_t>(n));
    return all;
  }

private:
  int FFd = -1;
  bool FConnected = false;
};

/// A port that was free a moment ago on every local address. Taken below the system's range of
/// ports for outgoing connections, so that the clients of a busy machine cannot take it before
/// the server binds it.
inline int FreePort() {
  static std::atomic<unsigned> draw{static_cast<unsigned>(::getpid()) * 7919u};
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int port = 20000 + static_cast<int>(draw.fetch_add(7919u) % 12000u);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (free) return port;
  }
  return 0;
}

/// Polls condition every 10 ms for at most 10 seconds.
template <typename Condition>
bool Eventually(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace testsock
