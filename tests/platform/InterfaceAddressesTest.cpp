#include "platform/InterfaceAddresses.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

namespace {

using namespace platform;

// What the machine has varies; what the reader makes of it must not.
TEST(InterfaceAddresses, EveryEntryIsANamedDottedIPv4Address) {
  for (const TInterfaceAddress& entry : InterfaceAddresses()) {
    SCOPED_TRACE(entry.Name + " " + entry.Address);
    EXPECT_FALSE(entry.Name.empty());
    in_addr parsed{};
    EXPECT_EQ(1, ::inet_pton(AF_INET, entry.Address.c_str(), &parsed));
    if (entry.Loopback) {
      EXPECT_EQ(0u, entry.Address.rfind("127.", 0));
    }
  }
}

}  // namespace
