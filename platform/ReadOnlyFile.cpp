#include "platform/ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/FilePath.h"

namespace platform {

namespace {

std::int64_t LastWriteNs(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

}  // namespace

TReadOnlyFile::TReadOnlyFile(const std::string& path) {
  if (HasEmbeddedNul(path)) {
    FError = std::strerror(EINVAL);
    return;
  }
  const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (handle == -1) {
    FError = std::strerror(errno);
    return;
  }
  FHandle = handle;
  struct stat st {};
  if (::fstat(handle, &st) != 0) {
    FError = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    FError = "Not a regular file";
  } else if (::fcntl(handle, F_SETFL, 0) == -1) {
    // The status flags are exactly those of the open, so clearing them all clears O_NONBLOCK.
    FError = std::strerror(errno);
  } else {
    FSize = static_cast<std::int64_t>(st.st_size);
    FLastWrite = st.st_mtim.tv_sec;
    FLastWriteNs = LastWriteNs(st);
    FId = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return;
  }
  Close();
}

TReadOnlyFile::~TReadOnlyFile() { Close(); }

TReadOnlyFile::TReadOnlyFile(TReadOnlyFile&& other) noexcept
    : FHandle(std::exchange(other.FHandle, -1)),
      FSize(other.FSize),
      FLastWrite(other.FLastWrite),
      FLastWriteNs(other.FLastWriteNs),
      FId(other.FId),
      FError(std::move(other.FError)) {}

TReadOnlyFile& TReadOnlyFile::operator=(TReadOnlyFile&& other) noexcept {
  if (this != &other) {
    Close();
    FHandle = std::exchange(other.FHandle, -1);
    FSize = other.FSize;
    FLastWrite = other.FLastWrite;
    FLastWriteNs = other.FLastWriteNs;
    FId = other.FId;
    FError = std::move(other.FError);
  }
  return *this;
}

void TReadOnlyFile::Close() {
  if (FHandle != -1) ::close(FHandle);
  FHandle = -1;
}

std::size_t TReadOnlyFile::ReadAt(void* buffer, std::size_t count, std::int64_t offset) const {
  return ReadFileAt(FHandle, buffer, count, offset);
}

std::size_t ReadFileAt(int handle, void* buffer, std::size_t count, std::int64_t offset) {
  for (;;) {
    const ssize_t n = ::pread(handle, buffer, count, static_cast<off_t>(offset));
    if (n == -1 && errno == EINTR) continue;
    return n <= 0 ? 0 : static_cast<std::size_t>(n);
  }
}

std::int64_t TReadOnlyFile::CurrentSize() const {
  struct stat st {};
  if (::fstat(FHandle, &st) != 0) return 0;
  return static_cast<std::int64_t>(st.st_size);
}

bool TReadOnlyFile::ChangedSinceOpen() const {
  struct stat st {};
  if (::fstat(FHandle, &st) != 0) return true;
  return static_cast<std::int64_t>(st.st_size) != FSize || LastWriteNs(st) != FLastWriteNs;
}

}  // namespace platform
