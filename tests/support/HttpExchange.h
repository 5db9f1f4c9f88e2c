#pragma once
// Raw HTTP over a loopback socket for the engine and handler tests: send bytes exactly as
// given, take everything until the server closes, split the head from the body. Every wait is
// bounded by the client socket's timeouts.

#include <string>

#include "support/TestSockets.h"

namespace testhttp {

/// One answer as received: the head up to and including its empty line, and what follows.
struct TAnswer {
  std::string Head;
  std::string Body;
  bool Closed = false;  // nothing at all came back before the close
};

inline TAnswer SplitAnswer(const std::string& raw) {
  TAnswer answer;
  answer.Closed = raw.empty();
  const std::size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) {
    answer.Head = raw;
    return answer;
  }
  answer.Head = raw.substr(0, end + 4);
  answer.Body = raw.substr(end + 4);
  return answer;
}

/// Sends request on a new connection to 127.0.0.1:port and returns everything until the
/// server closes.
inline std::string ExchangeRaw(int port, const std::string& request, bool shutdownSend = false) {
  testsock::TClient client(port);
  if (!client.Connected() || !client.Send(request)) return std::string();
  if (shutdownSend) client.ShutdownSend();
  return client.ReceiveAll();
}

inline TAnswer Exchange(int port, const std::string& request, bool shutdownSend = false) {
  return SplitAnswer(ExchangeRaw(port, request, shutdownSend));
}

/// The next answer on a connection that stays open: its head, then as many bytes as its
/// Content-Length says (none without one, or when bodyless is set, as for a HEAD).
inline TAnswer ReceiveAnswer(testsock::TClient& client, bool bodyless = false) {
  std::string head;
  while (!head.ends_with("\r\n\r\n")) {
    const std::string next = client.Receive(1);
    if (next.empty()) break;
    head += next;
  }
  TAnswer answer = SplitAnswer(head);
  const std::size_t field = answer.Head.find("\r\nContent-Length: ");
  if (field != std::string::npos && !bodyless) {
    answer.Body = client.Receive(std::stoul(answer.Head.substr(field + 18)));
  }
  return answer;
}

/// "<method> <target> HTTP/1.1" with a Host line and the extra header lines (each ending in
/// CR LF), then the empty line.
inline std::string Request(const std::string& method, const std::string& target, const std::string& headers = "") {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

/// The head a response of the engine carries for these values, byte for byte.
inline std::string Head(const std::string& statusLine, const std::string& contentType, long long length,
                        const std::string& extra = "") {
  std::string head = statusLine + "\r\nConnection: close\r\n";
  if (!contentType.empty()) head += "Content-Type: " + contentType + "\r\n";
  if (length >= 0) head += "Content-Length: " + std::to_string(length) + "\r\n";
  return head + "Server: Velmora/1.0\r\n" + extra + "\r\n";
}

}  // namespace testhttp
