#pragma once
// The addresses of this host: the IPv4 and IPv6 addresses of its network interfaces, the
// interface that holds the default route, and the IPv4 addresses its host name resolves to. The
// one reader of them, for the engine's local address list and the window's.

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

/// One IPv6 address of one network interface, as the kernel's address table reports it.
struct TInterface6Address {
  std::string Name;         // interface name
  std::string Address;      // shortest form, such as 2001:db8::7
  bool Global = false;      // global scope: not link-local, loopback or site-local
  bool Temporary = false;   // a privacy address, replaced every few hours
  bool Deprecated = false;  // kept for the connections that use it, not offered for new ones
  bool Tentative = false;   // not usable yet, or never: duplicate detection runs or failed
};

/// The entries of a table in the form of /proc/net/if_inet6 (one address a line: 32 hex digits,
/// interface index, prefix length, scope and flags in hex, interface name); lines that do not
/// read as one are passed over. Any thread.
std::vector<TInterface6Address> ParseInterface6Table(const std::string& table);

/// Every IPv6 address of every interface, in the kernel's order. Empty when the system has no
/// IPv6 or the table cannot be read. Any thread.
std::vector<TInterface6Address> Interface6Addresses();

/// The interface of the IPv4 default route in a table in the form of /proc/net/route (a head
/// line, then Iface, Destination, Gateway, Flags, RefCnt, Use, Metric, Mask, ...): of the routes
/// that are up with destination and mask 0, the one of the lowest metric, the first among
/// equals. Empty when there is none. Any thread.
std::string ParseDefaultRoute(const std::string& table);

/// The interface that holds this host's IPv4 default route; empty when none or unreadable.
/// Any thread.
std::string DefaultRouteInterface();

/// This host's name; empty when it cannot be read. Any thread.
std::string HostName();

/// The IPv4 addresses that this host's name resolves to, in the resolver's order. Empty when
/// the name is unknown or the look-up fails. Any thread.
std::vector<std::string> HostNameAddresses();

}  // namespace platform
