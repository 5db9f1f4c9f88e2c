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

TReach ReachOf(const std::string& name, bool loopback, bool linkLocal) {
  if (loopback)
    return rLoopback;
  if (HasPrefix(name, {"docker", "veth", "br-", "virbr"}))
    return rVirtual;
  if (HasPrefix(name, {"tun", "tap", "wg", "tailscale", "zt"}) || linkLocal)
    return rTunnel;
  return rOrdinary;
}

using TGroups = std::array<std::vector<std::string>, rGroups>;

void AppendGroups(std::vector<std::string>& ordered, const TGroups& groups) {
  for (const std::vector<std::string>& group : groups)
    ordered.insert(ordered.end(), group.begin(), group.end());
}

bool Usable(const platform::TInterface6Address& entry) {
  return entry.Global && !entry.Temporary && !entry.Deprecated && !entry.Tentative && !entry.Address.empty();
}

}  // namespace

TInterfaceTable ReadInterfaceTable() {
  return {platform::InterfaceAddresses(), platform::Interface6Addresses(), platform::DefaultRouteInterface()};
}

std::vector<std::string> OrderInterfaceAddresses(const TInterfaceTable& table) {
  std::vector<std::string> ordered;
  TGroups ipv4;
  for (const platform::TInterfaceAddress& entry : table.IPv4) {
    if (!entry.Up || entry.Address.empty())
      continue;
    if (ordered.empty() && !entry.Loopback && !table.DefaultRoute.empty() && entry.Name == table.DefaultRoute)
      ordered.push_back(entry.Address);
    else
      ipv4[ReachOf(entry.Name, entry.Loopback, HasPrefix(entry.Address, {"169.254."}))].push_back(entry.Address);
  }
  AppendGroups(ordered, ipv4);
  TGroups ipv6;
  for (const platform::TInterface6Address& entry : table.IPv6)
    if (Usable(entry))
      ipv6[ReachOf(entry.Name, false, false)].push_back(entry.Address);
  AppendGroups(ordered, ipv6);
  return ordered;
}

std::vector<std::string> HostAddresses() {
  std::vector<std::string> result = OrderInterfaceAddresses(ReadInterfaceTable());
  return result.empty() ? platform::HostNameAddresses() : result;
}

std::string AddressEntry(const std::string& address, bool withPort, long long port) {
  const std::string host = address.find(':') == std::string::npos ? address : "[" + address + "]";
  if (!withPort || port == 80)
    return "http://" + host + "/";
  return "http://" + host + ":" + std::to_string(port) + "/";
}

std::string BrowseAddress(const std::string& entry) {
  if (!entry.ends_with('/') || entry.find('?') != std::string::npos)
    return entry;
  return entry + "?browse";
}
