#include "platform/InterfaceAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <linux/if_addr.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <memory>
#include <sstream>

namespace platform {
namespace {

std::string DottedAddress(const sockaddr* address) {
  char text[INET_ADDRSTRLEN] = {};
  const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
  if (inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) == nullptr) return {};
  return text;
}

// The whole of a small system table; empty when it cannot be read.
std::string ReadTable(const char* path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool HexByte(const std::string& text, std::size_t at, unsigned char& value) {
  const char* first = text.data() + at;
  return std::from_chars(first, first + 2, value, 16).ptr == first + 2;
}

// 32 hex digits into the address's shortest text; empty when they are not that.
std::string IPv6Text(const std::string& hex) {
  if (hex.size() != 32) return {};
  in6_addr address;
  for (std::size_t i = 0; i < 16; ++i)
    if (!HexByte(hex, 2 * i, address.s6_addr[i])) return {};
  char text[INET6_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET6, &address, text, sizeof text) == nullptr) return {};
  return text;
}

constexpr unsigned kScopeGlobal = 0x00;

}  // namespace

std::vector<TInterface6Address> ParseInterface6Table(const std::string& table) {
  std::vector<TInterface6Address> result;
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string hex, name;
    unsigned index = 0, prefix = 0, scope = 0, flags = 0;
    if (!(fields >> hex >> std::hex >> index >> prefix >> scope >> flags >> name)) continue;
    TInterface6Address entry;
    entry.Address = IPv6Text(hex);
    if (entry.Address.empty()) continue;
    entry.Name = name;
    entry.Global = scope == kScopeGlobal;
    entry.Temporary = (flags & IFA_F_TEMPORARY) != 0;
    entry.Deprecated = (flags & IFA_F_DEPRECATED) != 0;
    entry.Tentative = (flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED)) != 0;
    result.push_back(std::move(entry));
  }
  return result;
}

std::vector<TInterface6Address> Interface6Addresses() { return ParseInterface6Table(ReadTable("/proc/net/if_inet6")); }

std::string ParseDefaultRoute(const std::string& table) {
  constexpr unsigned kRouteUp = 0x1;
  std::istringstream lines(table);
  std::string line;
  std::getline(lines, line);  // the head line
  std::string best;
  unsigned long bestMetric = 0;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name, destination, gateway, mask;
    unsigned long flags = 0, references = 0, use = 0, metric = 0;
    if (!(fields >> name >> destination >> gateway >> std::hex >> flags >> std::dec >> references >> use >> metric >>
          mask))
      continue;
    if (destination != "00000000" || mask != "00000000" || (flags & kRouteUp) == 0) continue;
    if (best.empty() || metric < bestMetric) {
      best = name;
      bestMetric = metric;
    }
  }
  return best;
}

std::string DefaultRouteInterface() { return ParseDefaultRoute(ReadTable("/proc/net/route")); }

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
