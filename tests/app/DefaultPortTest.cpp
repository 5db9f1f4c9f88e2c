#include "app/DefaultPort.h"

#include <gtest/gtest.h>

namespace {

// An ordinary user on a usual system gets 8080, where a first start works; 80 only where it binds.
TEST(DefaultPort, Is80OnlyWhereThisProcessMayBindIt) {
  struct TCase {
    platform::TBindRights Rights;
    int Port;
  };
  const TCase cases[] = {
      {{false, false, 1024}, 8080},  // ordinary user
      {{true, false, 1024}, 80},     // root
      {{false, true, 1024}, 80},     // the capability, as setcap gives it to the program
      {{false, false, 80}, 80},      // every user may bind from 80 up
      {{false, false, 0}, 80},
      {{false, false, 81}, 8080},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Rights.Root << c.Rights.NetBindService << c.Rights.UnprivilegedPortStart);
    EXPECT_EQ(c.Port, DefaultPort(c.Rights));
  }
}

}  // namespace
