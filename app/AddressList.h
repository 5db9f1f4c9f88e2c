#pragma once
// The order in which this host's IPv4 addresses are offered to other machines, and the URL
// entries of the window's address list (and of the headless start lines) built from them. No Qt.

#include <functional>
#include <string>
#include <vector>

#include "platform/InterfaceAddresses.h"

/// The addresses worth showing, in the order shown: interfaces that are up only; first ordinary
/// interfaces in the order given, then VPN and tunnel links (tun*, tap*, wg*, tailscale*, zt*)
/// and link-local addresses (169.254.x.x), then virtual bridges and container links (docker*,
/// veth*, br-*, virbr*), loopback last. A phone on the LAN can reach only the first kind.
std::vector<std::string> OrderInterfaceAddresses(const std::vector<platform::TInterfaceAddress>& interfaces);

/// This host's addresses: those of its interfaces in the order above, or, when that yields
/// nothing, those of the host-name look-up. Empty on any failure. Any thread.
std::vector<std::string> HostAddresses();

/// Where the window gets the host's addresses from; tests give their own.
using TAddressSource = std::function<std::vector<std::string>()>;

/// The most entries the address list shows.
constexpr int kMaxAddressEntries = 5;

/// "http://" + address + "/" for port 80 or without a port, "http://" + address + ":" + port + "/"
/// otherwise.
std::string AddressEntry(const std::string& address, bool withPort, long long port);

/// Where people are sent for an address entry: its browse page (entry + "?browse") when the
/// entry is a folder address without a query, else the entry as it stands (a file or a page
/// typed by hand).
std::string BrowseAddress(const std::string& entry);
