#include "platform/Process.h"

#include <dlfcn.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

namespace platform {

std::string ExecutableFolder() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(length));
  path.resize(path.rfind('/') + 1);
  return path;
}

void* FindModuleSymbol(const std::vector<std::string>& modules, const char* symbol, std::string& error) {
  for (const std::string& module : modules) {
    void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) continue;
    if (void* address = ::dlsym(handle, symbol)) return address;
  }
  const char* reason = ::dlerror();
  error = reason != nullptr ? reason : "not found";
  return nullptr;
}

std::uint32_t UserId() { return ::getuid(); }

std::uint64_t RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur != limit.rlim_max) {
    const rlim_t old = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) limit.rlim_cur = old;
  }
  return limit.rlim_cur;
}

void ReleaseFreeMemory() { ::malloc_trim(0); }

}  // namespace platform
