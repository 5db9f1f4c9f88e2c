#include "platform/AppendFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {

TAppendFile::TAppendFile(std::string path) : FPath(std::move(path)) {}

TAppendFile::~TAppendFile() {
  if (FHandle >= 0) ::close(FHandle);
}

bool TAppendFile::Reopen() {
  const int handle = ::open(FPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (handle < 0) return false;
  int old = handle;
  {
    const TLockGuard guard(FLock);
    std::swap(old, FHandle);
  }
  if (old >= 0) ::close(old);
  return true;
}

bool TAppendFile::AppendLine(std::string_view line) {
  std::string text;
  text.reserve(line.size() + 1);
  text += line;
  text += '\n';
  const TLockGuard guard(FLock);
  if (FHandle < 0) return false;
  // A write to a regular file takes all of it unless the disk is full; a short one goes on
  // from where it stopped, still within this line's turn.
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t written = ::write(FHandle, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace platform
