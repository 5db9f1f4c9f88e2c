#include <dlfcn.h>
#include <malloc.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/Headless.h"
#include "platform/CodePage.h"

namespace {

// The window and Qt live in velmora-window.so next to the program, loaded only for the window:
// mapping Qt's libraries alone would cost the headless server more memory than all its
// connections.
int RunWindowModule(int argc, char** argv) {
  std::string folder(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", folder.data(), folder.size());
  folder.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  folder.resize(folder.rfind('/') + 1);
  const std::string module = folder + "velmora-window.so";
  void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  using TRunWindow = int (*)(int, char**);
  const auto run = handle != nullptr ? reinterpret_cast<TRunWindow>(::dlsym(handle, "VelmoraRunWindow")) : nullptr;
  if (run == nullptr) {
    std::fprintf(stderr, "velmora: cannot load the window (%s)\n", ::dlerror());
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
  // Pages and indexes are built whole in memory. A fixed threshold sends every large buffer to
  // its own mapping, returned when it is freed; the C library's sliding threshold would instead
  // keep the memory of the largest index ever built in the heap for the rest of the run.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  platform::SetSystemCodePage(platform::DetectSystemCodePage());
  if (argc > 1 && std::strcmp(argv[1], "--headless") == 0)
    return RunHeadless(argc, argv);
  return RunWindowModule(argc, argv);
}
