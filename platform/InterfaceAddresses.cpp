#include "platform/InterfaceAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <memory>

namespace platform {
namespace {

std::string DottedAddress(const sockaddr* address) {
  char text[INET_ADDRSTRLEN] = {};
  const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
  if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) == nullptr) return {};
  return text;
}

}  // namespace

std::vector<TInterfaceAddress> InterfaceAddresses() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, &freeifaddrs);
  std::vector<TInterfaceAddress> result;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    result.push_back({entry->ifa_name, DottedAddress(entry->ifa_addr), (entry->ifa_flags & IFF_UP) != 0,
                      (entry->ifa_flags & IFF_LOOPBACK) != 0});
  }
  return result;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::vector<std::string> HostNameAddresses() {
  const std::string name = HostName();
  if (name.empty()) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return {};
  const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(found, &freeaddrinfo);
  std::vector<std::string> result;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next)
    result.push_back(DottedAddress(entry->ai_addr));
  return result;
}

}  // namespace platform
