#include "http/io/IdFileStream.h"

#include "http/net/IdException.h"
#include "platform/FilePath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

std::string OpenErrorText(const std::string& fileName, const std::string& reason) {
  return "Cannot open file \"" + platform::ExpandFileName(fileName) + "\". " + reason;
}

// Opens a regular file for reading and returns its descriptor with O_NONBLOCK still set, and
// its size. Opened without blocking: the open of a FIFO without a writer would wait for one. The
// kind is checked on the open descriptor, so a file swapped for a FIFO after a caller's check
// is refused too.
int OpenRegularFile(const std::string& fileName, std::int64_t& size) {
  const int handle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (handle == -1) throw EFOpenError(OpenErrorText(fileName, std::strerror(errno)));
  struct stat st {};
  const bool known = ::fstat(handle, &st) == 0;
  if (!known || !S_ISREG(st.st_mode)) {
    const std::string reason = known ? "Not a regular file" : std::strerror(errno);
    ::close(handle);
    throw EFOpenError(OpenErrorText(fileName, reason));
  }
  size = static_cast<std::int64_t>(st.st_size);
  return handle;
}

}  // namespace

TIdReadOnlyFileStream::TIdReadOnlyFileStream(const std::string& fileName) {
  FHandle = OpenRegularFile(fileName, FSizeAtOpen);
  // The status flags are exactly those OpenRegularFile gave, so clearing them all clears O_NONBLOCK.
  if (::fcntl(FHandle, F_SETFL, 0) == -1) {
    const std::string reason = std::strerror(errno);
    ::close(FHandle);
    FHandle = -1;
    throw EFOpenError(OpenErrorText(fileName, reason));
  }
}

TIdReadOnlyFileStream::~TIdReadOnlyFileStream() {
  if (FHandle != -1) ::close(FHandle);
}

std::size_t TIdReadOnlyFileStream::Read(void* buffer, std::size_t count) {
  for (;;) {
    const ssize_t n = ::pread(FHandle, buffer, count, static_cast<off_t>(FPosition));
    if (n == -1 && errno == EINTR) continue;
    if (n <= 0) return 0;
    FPosition += n;
    return static_cast<std::size_t>(n);
  }
}

std::size_t TIdReadOnlyFileStream::Write(const void*, std::size_t) {
  throw EIdException("Stream is read-only.");
}

std::int64_t TIdReadOnlyFileStream::Size() const {
  struct stat st {};
  if (::fstat(FHandle, &st) != 0) return 0;
  return static_cast<std::int64_t>(st.st_size);
}

void TIdReadOnlyFileStream::SetSize(std::int64_t) { throw EIdException("Stream is read-only."); }

void TIdReadOnlyFileStream::SetPosition(std::int64_t position) {
  FPosition = std::clamp<std::int64_t>(position, 0, Size());
}

std::int64_t FileSizeOf(const std::string& fileName) {
  std::int64_t size = 0;
  ::close(OpenRegularFile(fileName, size));
  return size;
}
