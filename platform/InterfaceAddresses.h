#pragma once
// The IPv4 addresses of this host: those of its network interfaces, and those its host name
// resolves to. The one reader of both, for the engine's local address list and the window's.

#include <string>
#include <vector>

namespace platform {

/// One IPv4 address of one network interface, as the interface list reports it.
struct TInterfaceAddress {
  std::string Name;     // interface name, such as eth0
  std::string Address;  // dotted form
  bool Up = false;
  bool Loopback = false;
};

/// Every IPv4 address of every interface, in the order the system reports them. Empty when the
/// list cannot be read. Any thread.
std::vector<TInterfaceAddress> InterfaceAddresses();

/// This host's name; empty when it cannot be read. Any thread.
std::string HostName();

/// The IPv4 addresses that this host's name resolves to, in the resolver's order. Empty when
/// the name is unknown or the look-up fails. Any thread.
std::vector<std::string> HostNameAddresses();

}  // namespace platform
