// LEAD: delete this file and its lines in app/CMakeLists.txt when the headless runner is merged.
#include <cstdio>

#include "app/Headless.h"

int RunHeadless(int, char**) {
  std::fputs("velmora: --headless is not built yet\n", stderr);
  return 2;
}
