#include "platform/TempFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "platform/CacheFolder.h"
#include "platform/RuntimeFolder.h"

namespace platform {
namespace {

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Opens an unnamed file in folder; -1 when the folder cannot hold one.
int OpenUnnamed(const std::string& folder) {
  if (folder.empty()) return -1;
  const int handle = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (handle != -1 || (errno != EOPNOTSUPP && errno != EISDIR)) return handle;
  // A file system without O_TMPFILE: a name that lives only until the unlink below.
  std::string pattern = folder + (folder.back() == '/' ? "" : "/") + "velmora-XXXXXX";
  const int named = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (named != -1) ::unlink(pattern.c_str());
  return named;
}

}  // namespace

std::string CacheFolder() {
  const std::string folder = UserCacheFolder("velmora");
  // Only a folder of the user's own: another user's could read what is written there.
  return !folder.empty() && IsPrivateFolder(folder.substr(0, folder.size() - 1)) ? folder : "";
}

TTempFile::TTempFile() {
  FHandle = OpenUnnamed(CacheFolder());
  if (FHandle == -1) {
    const std::string temp = EnvironmentValue("TMPDIR");
    FHandle = OpenUnnamed(temp.empty() ? "/tmp" : temp);
  }
  if (FHandle == -1) throw std::system_error(errno, std::generic_category(), "temporary file");
}

TTempFile::~TTempFile() { Close(); }

TTempFile::TTempFile(TTempFile&& other) noexcept
    : FHandle(std::exchange(other.FHandle, -1)), FSize(std::exchange(other.FSize, 0)) {}

TTempFile& TTempFile::operator=(TTempFile&& other) noexcept {
  if (this != &other) {
    Close();
    FHandle = std::exchange(other.FHandle, -1);
    FSize = std::exchange(other.FSize, 0);
  }
  return *this;
}

void TTempFile::Close() {
  if (FHandle != -1) ::close(FHandle);
  FHandle = -1;
}

void TTempFile::Append(const void* bytes, std::size_t count) {
  const char* next = static_cast<const char*>(bytes);
  while (count > 0) {
    const ssize_t n = ::pwrite(FHandle, next, count, static_cast<off_t>(FSize));
    if (n == -1 && errno == EINTR) continue;
    if (n <= 0) throw std::system_error(n == 0 ? ENOSPC : errno, std::generic_category(), "temporary file");
    next += n;
    count -= static_cast<std::size_t>(n);
    FSize += n;
  }
}

std::size_t TTempFile::ReadAt(void* buffer, std::size_t count, std::int64_t offset) const {
  for (;;) {
    const ssize_t n = ::pread(FHandle, buffer, count, static_cast<off_t>(offset));
    if (n == -1 && errno == EINTR) continue;
    return n <= 0 ? 0 : static_cast<std::size_t>(n);
  }
}

}  // namespace platform
