#include <malloc.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "app/Headless.h"
#include "app/HeadlessOptions.h"
#include "app/OperatorText.h"
#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/Text.h"

#ifndef VELMORA_MODULE_FROM_BIN
#define VELMORA_MODULE_FROM_BIN "../lib/velmora/"
#endif

namespace {

// The window and Qt live in velmora-window.so, loaded only for the window: mapping Qt's
// libraries alone would cost the headless server more memory than all its connections. The
// module lies next to the program in the build tree, and where the install step puts it
// relative to the installed program; found from the program's own location, so an installed
// copy works under any prefix.
int RunWindowModule(int argc, char** argv) {
  const std::string folder = platform::ExecutableFolder();
  std::string error;
  using TRunWindow = int (*)(int, char**);
  const auto run = reinterpret_cast<TRunWindow>(platform::FindModuleSymbol(
      {folder + "velmora-window.so", folder + VELMORA_MODULE_FROM_BIN "velmora-window.so"}, "VelmoraRunWindow", error));
  if (run == nullptr) {
    const std::string reason = platform::CodePageToUtf8(error);
    PrintError(
        Bilingual("velmora: ウィンドウを読み込めません（" + reason + "）", "cannot load the window (" + reason + ")"));
    return 1;
  }
  return run(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  // One thread per connection: the C library would give each new thread a memory arena of its
  // own (up to eight per core), each keeping freed memory for itself. Two are plenty here.
  mallopt(M_ARENA_MAX, 2);
  // Pages are built whole in memory, up to 1 MiB before they go to a temporary file. Below 4 MiB
  // a buffer comes from the heap, and the heap keeps about 1 MiB free at its top: a page of a
  // few hundred KB then reuses the memory of the last one instead of a fresh mapping whose every
  // page the kernel must fault in and clear again. More than that is given back as it is freed.
  // The threshold stays low because the C library trims the second arena's top only past it,
  // also when the pool asks for free memory back: what lies below it stays resident for good.
  // Larger buffers (images being decoded) still get a mapping of their own, returned when freed.
  mallopt(M_MMAP_THRESHOLD, 4 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 20);
  mallopt(M_TOP_PAD, 1 << 20);
  // Every connection holds a descriptor; the usual soft limit of 1024 is far below what the
  // system allows.
  platform::RaiseOpenFileLimit();
  platform::SetSystemCodePage(platform::DetectSystemCodePage());
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (RunModeOf(args) != TRunMode::Window)
    return RunHeadless(args);
  return RunWindowModule(argc, argv);
}
