#include <clocale>
#include <cstdio>

#include "platform/CodePage.h"

int main() {
  std::setlocale(LC_ALL, "");
  platform::SetSystemCodePage(platform::DetectSystemCodePage());
  std::fputs("usage: velmora --headless [--port N] [--user NAME] [--password PASS | --password-file FILE]\n"
             "               [--exclude-readonly] [--include-hidden] [--include-system] [--ext EXT] ROOT\n",
             stderr);
  return 2;
}
