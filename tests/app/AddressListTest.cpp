#include "app/AddressList.h"

#include <gtest/gtest.h>

namespace {

// A phone on the LAN reaches ordinary interfaces only: they come first, loopback last.
TEST(OrderInterfaceAddresses, OrdinaryThenTunnelsThenVirtualThenLoopback) {
  TInterfaceTable table;
  table.IPv4 = {
      {"lo", "127.0.0.1", true, true},
      {"tailscale0", "100.64.0.3", true, false},
      {"docker0", "172.17.0.1", true, false},
      {"wg0", "10.8.0.2", true, false},
      {"eth0", "192.168.0.5", true, false},
      {"br-1a2b", "172.18.0.1", true, false},
      {"wlan0", "10.0.0.7", false, false},  // down
      {"veth9", "169.254.0.2", true, false},  // a container link, though link-local
      {"tun0", "10.9.0.1", true, false},
      {"eth1", "169.254.7.7", true, false},  // link-local on an ordinary interface
      {"tap1", "10.10.0.1", true, false},
      {"zt3", "10.147.17.5", true, false},
      {"virbr0", "192.168.122.1", true, false},
      {"enp3s0", "192.168.1.9", true, false},
      {"eth2", "", true, false},  // no address
  };
  const std::vector<std::string> expected = {
      "192.168.0.5", "192.168.1.9",                                                     // ordinary
      "100.64.0.3",  "10.8.0.2",    "10.9.0.1", "169.254.7.7", "10.10.0.1", "10.147.17.5",  // tunnels, link-local
      "172.17.0.1",  "172.18.0.1",  "169.254.0.2", "192.168.122.1",                     // bridges, containers
      "127.0.0.1"};
  EXPECT_EQ(expected, OrderInterfaceAddresses(table));
}

// Several ordinary interfaces: the one that holds the default route is the one the phone on
// the same network reaches, so it leads; the rest keep their order. Global IPv6 addresses
// follow, never temporary, deprecated, tentative or link-local ones.
TEST(OrderInterfaceAddresses, DefaultRouteFirstAndUsableIPv6Last) {
  TInterfaceTable table;
  table.IPv4 = {
      {"lo", "127.0.0.1", true, true},
      {"enp2s0", "10.0.5.20", true, false},
      {"docker0", "172.17.0.1", true, false},
      {"wg0", "10.8.0.2", true, false},
      {"wlp3s0", "192.168.1.34", true, false},
      {"wlp3s0", "192.168.1.35", true, false},  // a second address of the same interface
      {"enp4s0", "172.20.0.9", true, false},
  };
  table.IPv6 = {
      {"lo", "::1", false, false, false, false},
      {"docker0", "fd00:dead::1", true, false, false, false},
      {"wlp3s0", "fe80::1c2b:3aff:fe4d:5e6f", false, false, false, false},
      {"wlp3s0", "2001:db8:1:2:a1b2:c3d4:e5f6:718", true, true, false, false},
      {"wlp3s0", "2001:db8:1:2::9", true, false, true, false},
      {"wlp3s0", "2001:db8:1:2::a", true, false, false, true},
      {"wlp3s0", "2001:db8:1:2::7", true, false, false, false},
      {"wg0", "fd42::2", true, false, false, false},
  };
  table.DefaultRoute = "wlp3s0";
  const std::vector<std::string> expected = {"192.168.1.34", "10.0.5.20", "192.168.1.35", "172.20.0.9", "10.8.0.2",
                                             "172.17.0.1",   "127.0.0.1", "2001:db8:1:2::7", "fd42::2",
                                             "fd00:dead::1"};
  EXPECT_EQ(expected, OrderInterfaceAddresses(table));

  // A default route on an interface that is down, or has no IPv4 address, changes nothing.
  table.IPv4[4].Up = false;
  table.IPv4[5].Up = false;
  EXPECT_EQ(OrderInterfaceAddresses(table).front(), "10.0.5.20");
  table.DefaultRoute = "ppp0";
  EXPECT_EQ(OrderInterfaceAddresses(table).front(), "10.0.5.20");
  table.DefaultRoute = "lo";
  EXPECT_EQ(OrderInterfaceAddresses(table).front(), "10.0.5.20");
}

TEST(OrderInterfaceAddresses, NothingUpGivesNothing) {
  EXPECT_TRUE(OrderInterfaceAddresses({{{"eth0", "192.168.0.5", false, false}}, {}, "eth0"}).empty());
  EXPECT_TRUE(OrderInterfaceAddresses({}).empty());
}

TEST(AddressEntry, PortFormOnlyForPortsOtherThan80) {
  EXPECT_EQ("http://192.168.0.5/", AddressEntry("192.168.0.5", false, 8080));
  EXPECT_EQ("http://192.168.0.5/", AddressEntry("192.168.0.5", true, 80));
  EXPECT_EQ("http://192.168.0.5:8/", AddressEntry("192.168.0.5", true, 8));
  EXPECT_EQ("http://192.168.0.5:65535/", AddressEntry("192.168.0.5", true, 65535));
}

TEST(AddressEntry, IPv6AddressesGoInBrackets) {
  EXPECT_EQ("http://[2001:db8::7]:8080/", AddressEntry("2001:db8::7", true, 8080));
  EXPECT_EQ("http://[2001:db8::7]/", AddressEntry("2001:db8::7", true, 80));
  EXPECT_EQ("http://[2001:db8::7]:8080/?browse", BrowseAddress(AddressEntry("2001:db8::7", true, 8080)));
}

}  // namespace

TEST(AddressListTest, PeopleAreSentToTheBrowsePageOfAFolderAddress) {
  EXPECT_EQ("http://192.168.0.5:8080/?browse", BrowseAddress("http://192.168.0.5:8080/"));
  EXPECT_EQ("http://192.168.0.5/photos/?browse", BrowseAddress("http://192.168.0.5/photos/"));
  // What already names a file or asks a question is the operator's own.
  EXPECT_EQ("http://192.168.0.5/a.txt", BrowseAddress("http://192.168.0.5/a.txt"));
  EXPECT_EQ("http://192.168.0.5/?json", BrowseAddress("http://192.168.0.5/?json"));
  EXPECT_EQ("", BrowseAddress(""));
}
