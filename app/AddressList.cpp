#include "app/AddressList.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <memory>

namespace {

bool IsVirtualLink(const std::string& name) {
  for (const char* prefix : {"docker", "veth", "br-", "virbr"})
    if (name.rfind(prefix, 0) == 0)
      return true;
  return false;
}

std::string DottedAddress(const sockaddr* address) {
  char text[INET_ADDRSTRLEN] = {};
  const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
  if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) == nullptr)
    return {};
  return text;
}

std::vector<TInterfaceAddress> InterfaceAddresses() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0)
    return {};
  const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, &freeifaddrs);
  std::vector<TInterfaceAddress> result;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
      continue;
    result.push_back({entry->ifa_name, DottedAddress(entry->ifa_addr), (entry->ifa_flags & IFF_UP) != 0,
                      (entry->ifa_flags & IFF_LOOPBACK) != 0});
  }
  return result;
}

std::vector<std::string> HostNameAddresses() {
  char name[128] = {};
  if (gethostname(name, sizeof name - 1) != 0)
    return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0)
    return {};
  const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(found, &freeaddrinfo);
  std::vector<std::string> result;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next)
    result.push_back(DottedAddress(entry->ai_addr));
  return result;
}

}  // namespace

std::vector<std::string> OrderInterfaceAddresses(const std::vector<TInterfaceAddress>& interfaces) {
  std::vector<std::string> ordinary, virtualLinks, loopback;
  for (const TInterfaceAddress& entry : interfaces) {
    if (!entry.Up || entry.Address.empty())
      continue;
    if (entry.Loopback)
      loopback.push_back(entry.Address);
    else if (IsVirtualLink(entry.Name))
      virtualLinks.push_back(entry.Address);
    else
      ordinary.push_back(entry.Address);
  }
  ordinary.insert(ordinary.end(), virtualLinks.begin(), virtualLinks.end());
  ordinary.insert(ordinary.end(), loopback.begin(), loopback.end());
  return ordinary;
}

std::vector<std::string> HostAddresses() {
  std::vector<std::string> result = OrderInterfaceAddresses(InterfaceAddresses());
  return result.empty() ? HostNameAddresses() : result;
}

std::string AddressEntry(const std::string& address, bool withPort, long long port) {
  if (!withPort || port == 80)
    return "http://" + address + "/";
  return "http://" + address + ":" + std::to_string(port) + "/";
}
