#include "platform/Process.h"

#include <dlfcn.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace platform {

std::string ExecutablePath() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(length));
  return path;
}

std::string ExecutableFolder() {
  std::string path = ExecutablePath();
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

namespace {

constexpr int kCapNetBindService = 10;  // its bit in the capability sets of /proc/<pid>/status

bool HoldsNetBindService() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) != 0) continue;
    std::uint64_t effective = 0;
    std::istringstream(line.substr(7)) >> std::hex >> effective;
    return (effective >> kCapNetBindService & 1) != 0;
  }
  return false;
}

int UnprivilegedPortStart() {
  std::ifstream setting("/proc/sys/net/ipv4/ip_unprivileged_port_start");
  int port = 1024;
  return setting >> port ? port : 1024;
}

}  // namespace

TBindRights BindRights() {
  TBindRights rights;
  rights.Root = ::geteuid() == 0;
  rights.NetBindService = HoldsNetBindService();
  rights.UnprivilegedPortStart = UnprivilegedPortStart();
  return rights;
}

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
