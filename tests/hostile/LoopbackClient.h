#pragma once
// Raw TCP clients of the hostile-client tests: connections from any address of 127.0.0.0/8 to
// 127.0.0.1, or from an IPv6 address of the loopback interface to ::1, driven without blocking
// by one poll loop, every wait bounded by a deadline.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace hostile {

using TClock = std::chrono::steady_clock;

/// Many connections to 127.0.0.1:port (::1 from IPv6 sources) from one thread: each sends the
/// same request as soon as its connect completes, then hands what it receives to the receiver,
/// until the server closes it (end of stream or reset). Not thread-safe; the receiver runs on the caller's thread.
///
/// Connections are opened a few at a time: the next one starts only when the server's kernel
/// has taken the ones before (their connect complete, their request acknowledged). A burst of
/// connects can overflow the server's listen queue, and each connection caught in the overflow
/// would wait out TCP's growing retransmission delays: seconds of silence that would be taken
/// for the server's.
class TCrowd {
public:
  using TReceiver = std::function<void(std::size_t index, std::string_view bytes)>;

  /// count connections, the i-th from sources[i % sources.size()]; none is opened before a
  /// Run call.
  TCrowd(int port, std::vector<std::string> sources, std::size_t count, std::string request, TReceiver receiver);
  ~TCrowd();
  TCrowd(const TCrowd&) = delete;
  TCrowd& operator=(const TCrowd&) = delete;

  /// Drives the connections until every one is closed or failed, or until the deadline.
  void RunUntil(TClock::time_point deadline);
  /// Drives them until every one has been taken by the server's kernel or has ended, or until
  /// the deadline; false at the deadline.
  bool RunUntilTaken(TClock::time_point deadline);

  std::size_t Count() const { return FPeers.size(); }
  /// Connections whose connect failed.
  std::size_t Failed() const;
  /// Connections that the server closed.
  std::size_t Closed() const;
  /// Connections still open, their whole request sent and acknowledged.
  std::size_t Held() const;
  /// Request bytes that the kernel took on the index-th connection.
  std::size_t SentBytes(std::size_t index) const { return FPeers[index].Sent; }
  bool IsClosed(std::size_t index) const { return FPeers[index].State == TState::Closed; }
  bool IsFailed(std::size_t index) const { return FPeers[index].State == TState::Failed; }

private:
  // Unopened, then Connecting, Sending and Sent (not yet acknowledged) until Held; Closed or
  // Failed at the end.
  enum class TState { Unopened, Connecting, Sending, Sent, Held, Closed, Failed };
  struct TPeer {
    int Fd = -1;
    TState State = TState::Unopened;
    std::size_t Sent = 0;
  };

  bool Step(TClock::time_point deadline, bool untilTaken);
  void OpenMore();
  void NoteAcknowledged();
  void SetState(std::size_t index, TState state);
  void Connected(std::size_t index);
  void SendRest(std::size_t index);
  void Receive(std::size_t index);
  void End(std::size_t index, TState state);
  std::size_t CountIn(TState state) const;

  const int FPort;
  const std::vector<std::string> FSources;
  const std::string FRequest;
  const TReceiver FReceiver;
  std::vector<TPeer> FPeers;
  std::size_t FOpened = 0;   // FPeers[0, FOpened) have been opened
  std::size_t FPending = 0;  // opened, not yet held nor ended
  std::vector<char> FBlock;  // one receive at a time
};

/// What one connection saw.
struct TExchange {
  bool Connected = false;
  bool ClosedByServer = false;  // end of stream or reset before the limit
  std::size_t Sent = 0;         // request bytes the kernel took
  std::string Answer;           // every byte received
  double Seconds = 0;           // from the connect to the close, or to the limit
};

/// Sends request from source to 127.0.0.1:port (::1 from an IPv6 source) while reading, until
/// the server closes or the limit passes.
TExchange Exchange(int port, const std::string& request, std::chrono::milliseconds limit,
                   const std::string& source = "127.0.0.1");

}  // namespace hostile
