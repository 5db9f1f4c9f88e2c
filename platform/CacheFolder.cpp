#include "platform/CacheFolder.h"

#include "platform/FilePath.h"
#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace platform {

std::string UserDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/share/";
  return {};
}

std::string UserCacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/";
  return {};
}

std::string UserCacheFolder(const std::string& name) {
  const std::string base = UserCacheFolder();
  if (base.empty()) return {};
  const std::string folder = base + name + "/";
  if (HasEmbeddedNul(folder) || !ForceFolders(folder)) return {};
  return folder;
}

bool ForceFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  return DirectoryExists(path);
}

bool WriteFileAtomically(const std::string& path, std::string_view data) {
  if (HasEmbeddedNul(path)) return false;
  // Unique among the threads and processes that write the same folder.
  static std::atomic<unsigned> counter{0};
  const std::string temporary = path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
  const int handle = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (handle == -1) return false;
  bool written = true;
  for (std::size_t done = 0; written && done < data.size();) {
    const ssize_t n = write(handle, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<std::size_t>(n);
  }
  written = written && fsync(handle) == 0;
  written = close(handle) == 0 && written;
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

}  // namespace platform
