#include "hostile/NonReader.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace hostile {

TNonReader::TNonReader(int port, const std::string& request) : FFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  const int small = 4096;
  ::setsockopt(FFd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  const timeval limit{5, 0};
  ::setsockopt(FFd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  FConnected = ::connect(FFd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
               ::send(FFd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
}

TNonReader::~TNonReader() { ::close(FFd); }

std::string TNonReader::Peek() const {
  char bytes[12];
  const ssize_t n = ::recv(FFd, bytes, sizeof bytes, MSG_PEEK | MSG_DONTWAIT);
  return n > 0 ? std::string(bytes, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace hostile
