#include "app/AddressList.h"

#include <array>

namespace {

bool HasPrefix(const std::string& name, std::initializer_list<const char*> prefixes) {
  for (const char* prefix : prefixes)
    if (name.rfind(prefix, 0) == 0)
      return true;
  return false;
}

// The groups in the order shown: the lower, the likelier another machine of the LAN reaches it.
enum TReach { rOrdinary, rTunnel, rVirtual, rLoopback, rGroups };

TReach ReachOf(const platform::TInterfaceAddress& entry) {
  if (entry.Loopback)
    return rLoopback;
  if (HasPrefix(entry.Name, {"docker", "veth", "br-", "virbr"}))
    return rVirtual;
  if (HasPrefix(entry.Name, {"tun", "tap", "wg", "tailscale", "zt"}) || HasPrefix(entry.Address, {"169.254."}))
    return rTunnel;
  return rOrdinary;
}

}  // namespace

std::vector<std::string> OrderInterfaceAddresses(const std::vector<platform::TInterfaceAddress>& interfaces) {
  std::array<std::vector<std::string>, rGroups> groups;
  for (const platform::TInterfaceAddress& entry : interfaces)
    if (entry.Up && !entry.Address.empty())
      groups[ReachOf(entry)].push_back(entry.Address);
  std::vector<std::string> ordered;
  for (const std::vector<std::string>& group : groups)
    ordered.insert(ordered.end(), group.begin(), group.end());
  return ordered;
}

std::vector<std::string> HostAddresses() {
  std::vector<std::string> result = OrderInterfaceAddresses(platform::InterfaceAddresses());
  return result.empty() ? platform::HostNameAddresses() : result;
}

std::string AddressEntry(const std::string& address, bool withPort, long long port) {
  if (!withPort || port == 80)
    return "http://" + address + "/";
  return "http://" + address + ":" + std::to_string(port) + "/";
}

std::string BrowseAddress(const std::string& entry) {
  if (!entry.ends_with('/') || entry.find('?') != std::string::npos)
    return entry;
  return entry + "?browse";
}
