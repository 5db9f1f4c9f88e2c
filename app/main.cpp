#include <clocale>
#include <cstring>

#include "app/Headless.h"
#include "app/StartUp.h"
#include "platform/CodePage.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  platform::SetSystemCodePage(platform::DetectSystemCodePage());
  if (argc > 1 && std::strcmp(argv[1], "--headless") == 0)
    return RunHeadless(argc, argv);
  return RunWindow(argc, argv);
}
