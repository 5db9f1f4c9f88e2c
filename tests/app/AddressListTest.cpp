#include "app/AddressList.h"

#include <gtest/gtest.h>

namespace {

// A phone on the LAN reaches ordinary interfaces only: they come first, loopback last.
TEST(OrderInterfaceAddresses, OrdinaryThenTunnelsThenVirtualThenLoopback) {
  const std::vector<platform::TInterfaceAddress> interfaces = {
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
  EXPECT_EQ(expected, OrderInterfaceAddresses(interfaces));
}

TEST(OrderInterfaceAddresses, NothingUpGivesNothing) {
  EXPECT_TRUE(OrderInterfaceAddresses({{"eth0", "192.168.0.5", false, false}}).empty());
  EXPECT_TRUE(OrderInterfaceAddresses({}).empty());
}

TEST(AddressEntry, PortFormOnlyForPortsOtherThan80) {
  EXPECT_EQ("http://192.168.0.5/", AddressEntry("192.168.0.5", false, 8080));
  EXPECT_EQ("http://192.168.0.5/", AddressEntry("192.168.0.5", true, 80));
  EXPECT_EQ("http://192.168.0.5:8/", AddressEntry("192.168.0.5", true, 8));
  EXPECT_EQ("http://192.168.0.5:65535/", AddressEntry("192.168.0.5", true, 65535));
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
