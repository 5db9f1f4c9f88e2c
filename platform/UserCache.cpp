#include "platform/UserCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "platform/FilePath.h"

namespace platform {
namespace {

// Creates every missing folder of path (absolute, ending in "/") with mode 0700.
bool MakeFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteAll(int handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(handle, bytes.data(), bytes.size());
    if (n == -1 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::string UserCacheFolder(const std::string& name) {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  std::string base;
  if (cache != nullptr && cache[0] == '/') {
    base = cache;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return "";
    base = std::string(home) + "/.cache";
  }
  if (base.back() != '/') base += '/';
  const std::string folder = base + name + "/";
  if (HasEmbeddedNul(folder) || !MakeFolders(folder)) return "";
  return folder;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
  if (HasEmbeddedNul(path)) return false;
  // Unique per process and call, so that two threads or two programs never share a temp file.
  static std::atomic<unsigned> counter{0};
  const std::string temp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
  const int handle = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (handle == -1) return false;
  const bool written = WriteAll(handle, bytes) && ::fsync(handle) == 0;
  const bool closed = ::close(handle) == 0;
  if (written && closed && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace platform
