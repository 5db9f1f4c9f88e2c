#include "http/net/IdIPAddress.h"

#include <gtest/gtest.h>

namespace {

TEST(IsIPv6Literal, TakesAddressesOnlyWithoutBracketsOrZone) {
  for (const char* text : {"::1", "2001:db8::7", "2001:DB8:0:0:0:0:0:7", "::ffff:192.0.2.7", "::"})
    EXPECT_TRUE(IsIPv6Literal(text)) << text;
  for (const char* text : {"", "[::1]", "fe80::1%eth0", "192.0.2.7", "2001:db8::7::1", "host.example", "::1 ",
                           "2001:db8:0:0:0:0:0:0:7", "12345::"})
    EXPECT_FALSE(IsIPv6Literal(text)) << text;
  EXPECT_FALSE(IsIPv6Literal(std::string_view("::\0evil", 7)));
}

TEST(ClientAddressKey, OneKeyForEveryAddressOfAnIPv6Slash64) {
  const std::string key = ClientAddressKey("2001:db8:1:2::a");
  EXPECT_EQ(key, "2001:db8:1:2::/64");
  // However the address is written, and whatever its host half.
  for (const char* same : {"2001:db8:1:2:ffff:ffff:ffff:ffff", "2001:0DB8:0001:0002:0:0:0:b", "2001:db8:1:2::"})
    EXPECT_EQ(ClientAddressKey(same), key) << same;
  for (const char* other : {"2001:db8:1:3::a", "2001:db8:2:2::a", "::1"})
    EXPECT_NE(ClientAddressKey(other), key) << other;
  EXPECT_EQ(ClientAddressKey("::1"), "::/64");
}

TEST(ClientAddressKey, IPv4ClientsKeepTheirOwnAddress) {
  EXPECT_EQ(ClientAddressKey("192.0.2.7"), "192.0.2.7");
  EXPECT_NE(ClientAddressKey("192.0.2.7"), ClientAddressKey("192.0.2.8"));
  // Written as an IPv4-mapped address, never lumped with every other IPv4 client.
  EXPECT_EQ(ClientAddressKey("::ffff:192.0.2.7"), "192.0.2.7");
  EXPECT_EQ(ClientAddressKey(""), "");
  EXPECT_EQ(ClientAddressKey("not:an:address"), "not:an:address");
}

}  // namespace
