#include <malloc.h>

#include <clocale>
#include <cstring>

#include "app/Headless.h"
#include "app/StartUp.h"
#include "platform/CodePage.h"

int main(int argc, char** argv) {
  // One thread per connection: the C library would give each new thread a memory arena of its
  // own (up to eight per core), each keeping freed memory for itself. Two are plenty here.
  mallopt(M_ARENA_MAX, 2);
  std::setlocale(LC_ALL, "");
  platform::SetSystemCodePage(platform::DetectSystemCodePage());
  if (argc > 1 && std::strcmp(argv[1], "--headless") == 0)
    return RunHeadless(argc, argv);
  return RunWindow(argc, argv);
}
