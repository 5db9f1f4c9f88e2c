#include "platform/InterfaceAddresses.h"

#include <gtest/gtest.h>

namespace {

using platform::TInterface6Address;

TEST(ParseInterface6Table, ReadsAddressesScopesAndFlags) {
  const std::string table =
      "20010db8000100020000000000000007 02 40 00 80     eth0\n"   // global, permanent
      "20010db800010002a1b2c3d4e5f60718 02 40 00 01     eth0\n"   // temporary
      "20010db8000100020000000000000009 02 40 00 20     eth0\n"   // deprecated
      "20010db800010002000000000000000a 02 40 00 40     eth0\n"   // tentative
      "20010db800010002000000000000000b 02 40 00 08     eth0\n"   // duplicate found
      "fe80000000000000021122fffe334455 02 40 20 80     eth0\n"   // link-local
      "00000000000000000000000000000001 01 80 10 80       lo\n"   // loopback
      "fd00000000000000000000000000002a 05 40 00 82  docker0\n"   // unique local, no DAD
      "not an entry\n"
      "20010db8zz0100020000000000000007 02 40 00 80     eth0\n";  // not hexadecimal
  const std::vector<TInterface6Address> entries = platform::ParseInterface6Table(table);
  ASSERT_EQ(entries.size(), 8u);
  const auto expect = [&](std::size_t i, const char* name, const char* address, bool global, bool temporary,
                          bool deprecated, bool tentative) {
    SCOPED_TRACE(i);
    EXPECT_EQ(entries[i].Name, name);
    EXPECT_EQ(entries[i].Address, address);
    EXPECT_EQ(entries[i].Global, global);
    EXPECT_EQ(entries[i].Temporary, temporary);
    EXPECT_EQ(entries[i].Deprecated, deprecated);
    EXPECT_EQ(entries[i].Tentative, tentative);
  };
  expect(0, "eth0", "2001:db8:1:2::7", true, false, false, false);
  expect(1, "eth0", "2001:db8:1:2:a1b2:c3d4:e5f6:718", true, true, false, false);
  expect(2, "eth0", "2001:db8:1:2::9", true, false, true, false);
  expect(3, "eth0", "2001:db8:1:2::a", true, false, false, true);
  expect(4, "eth0", "2001:db8:1:2::b", true, false, false, true);
  expect(5, "eth0", "fe80::211:22ff:fe33:4455", false, false, false, false);
  expect(6, "lo", "::1", false, false, false, false);
  expect(7, "docker0", "fd00::2a", true, false, false, false);
  EXPECT_TRUE(platform::ParseInterface6Table("").empty());
}

TEST(ParseDefaultRoute, TheDefaultRouteOfLowestMetricThatIsUp) {
  const std::string head = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
  // Routes to networks, a default route that is down, then two default routes: the lower metric
  // wins, whatever the order.
  const std::string table = head +
                            "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
                            "wlan1\t00000000\t0102A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
                            "wlan0\t00000000\t0100000A\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                            "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                            "tun0\t00000080\t0100080A\t0003\t0\t0\t0\t00000080\t0\t0\t0\n";
  EXPECT_EQ(platform::ParseDefaultRoute(table), "eth0");
  EXPECT_EQ(platform::ParseDefaultRoute(head + "eth0\t0002A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"), "");
  EXPECT_EQ(platform::ParseDefaultRoute(""), "");
  // The first of equal metrics.
  EXPECT_EQ(platform::ParseDefaultRoute(head + "enp1s0\t00000000\t0102A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n" +
                                        "wlan0\t00000000\t0100000A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"),
            "enp1s0");
}

}  // namespace
