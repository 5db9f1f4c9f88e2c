// The entry of the window module (velmora-window.so), which the program loads only when it opens
// its window, so that the headless server maps none of Qt's libraries.

#include "app/StartUp.h"
#include "platform/CodePage.h"

/// Runs the window as RunWindow does. The module carries its own copy of the lower layers, so the
/// system code page is set here again, for that copy.
extern "C" __attribute__((visibility("default"))) int VelmoraRunWindow(int argc, char** argv) {
  platform::SetSystemCodePage(platform::DetectSystemCodePage());
  return RunWindow(argc, argv);
}
