#pragma once
// The IPv4 addresses under which other machines reach this host, and the URL entries of the
// window's address list built from them. No Qt.

#include <functional>
#include <string>
#include <vector>

/// One IPv4 address of one network interface, as the interface list reports it.
struct TInterfaceAddress {
  std::string Name;     // interface name, such as eth0
  std::string Address;  // dotted form
  bool Up = false;
  bool Loopback = false;
};

/// The addresses worth showing, in the order shown: interfaces that are up only; ordinary
/// interfaces in the order given, then virtual bridges and container links (docker*, veth*,
/// br-*, virbr*), loopback last.
std::vector<std::string> OrderInterfaceAddresses(const std::vector<TInterfaceAddress>& interfaces);

/// This host's addresses: those of its interfaces in the order above, or, when that yields
/// nothing, those of the host-name look-up. Empty on any failure. Any thread.
std::vector<std::string> HostAddresses();

/// Where the window gets the host's addresses from; tests give their own.
using TAddressSource = std::function<std::vector<std::string>()>;

/// "http://" + address + "/" for port 80 or without a port, "http://" + address + ":" + port + "/"
/// otherwise.
std::string AddressEntry(const std::string& address, bool withPort, long long port);
