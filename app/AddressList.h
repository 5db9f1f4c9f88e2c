#pragma once
// The order in which this host's addresses are offered to other machines, and the URL entries
// of the window's address list (and of the headless start lines) built from them. No Qt.

#include <functional>
#include <string>
#include <vector>

#include "platform/InterfaceAddresses.h"

/// What the address list is made from; tests give their own.
struct TInterfaceTable {
  std::vector<platform::TInterfaceAddress> IPv4;
  std::vector<platform::TInterface6Address> IPv6;
  std::string DefaultRoute;  // the interface of the IPv4 default route; empty when none
};

/// This host's interface table, as the system reports it now. Any thread.
TInterfaceTable ReadInterfaceTable();

/// The addresses worth showing, in the order shown, from interfaces that are up only. First the
/// IPv4 address of the interface that holds the default route: the one a phone on the same
/// network most likely reaches. Then the other IPv4 addresses: ordinary interfaces in the order
/// given, then VPN and tunnel links (tun*, tap*, wg*, tailscale*, zt*) and link-local addresses
/// (169.254.x.x), then virtual bridges and container links (docker*, veth*, br-*, virbr*),
/// loopback last. Then the global IPv6 addresses in the same order of interfaces, without the
/// temporary, deprecated and not yet usable ones (and link-local ones, whose URL needs a zone
/// that browsers do not take).
std::vector<std::string> OrderInterfaceAddresses(const TInterfaceTable& table);

/// This host's addresses (IPv6 ones without brackets): those of its interfaces in the order
/// above, or, when that yields nothing, the IPv4 addresses of the host-name look-up. Empty on
/// any failure. Read afresh at every call. Any thread.
std::vector<std::string> HostAddresses();

/// Where the window gets the host's addresses from; tests give their own.
using TAddressSource = std::function<std::vector<std::string>()>;

/// The most entries the address list shows.
constexpr int kMaxAddressEntries = 5;

/// "http://" + host + "/" for port 80 or without a port, "http://" + host + ":" + port + "/"
/// otherwise; host is the address, in brackets when it is an IPv6 one.
std::string AddressEntry(const std::string& address, bool withPort, long long port);

/// Where people are sent for an address entry: its browse page (entry + "?browse") when the
/// entry is a folder address without a query, else the entry as it stands (a file or a page
/// typed by hand).
std::string BrowseAddress(const std::string& entry);
