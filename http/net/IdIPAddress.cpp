#include "http/net/IdIPAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace {

bool ParseIPv6(std::string_view text, in6_addr& address) {
  // inet_pton would stop at a NUL and take what comes before it for the whole text.
  if (text.size() >= INET6_ADDRSTRLEN || text.find('\0') != std::string_view::npos) return false;
  char buffer[INET6_ADDRSTRLEN] = {};
  std::memcpy(buffer, text.data(), text.size());
  return ::inet_pton(AF_INET6, buffer, &address) == 1;
}

}  // namespace

bool IsIPv6Literal(std::string_view text) {
  in6_addr address;
  return ParseIPv6(text, address);
}

std::string ClientAddressKey(const std::string& address) {
  in6_addr parsed;
  if (address.find(':') == std::string::npos || !ParseIPv6(address, parsed)) return address;
  char text[INET6_ADDRSTRLEN] = {};
  if (IN6_IS_ADDR_V4MAPPED(&parsed)) {
    // The IPv4 client it stands for: keyed by its own address, not with every other one.
    ::inet_ntop(AF_INET, &parsed.s6_addr[12], text, sizeof text);
    return text;
  }
  std::memset(&parsed.s6_addr[8], 0, 8);
  ::inet_ntop(AF_INET6, &parsed, text, sizeof text);
  return std::string(text) + "/64";
}
