#include "platform/OutputLines.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace platform {

namespace {

// Shared by the lines that one write keeps whole; a longer line, which a pipe may take in
// pieces, holds it alone.
std::shared_mutex gLongLine;

void WriteAll(const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t written = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    done += static_cast<std::size_t>(written);
  }
}

}  // namespace

void WriteOutputLine(std::string_view line) {
  std::string text;
  text.reserve(line.size() + 1);
  text += line;
  text += '\n';
  if (text.size() <= PIPE_BUF) {
    const std::shared_lock<std::shared_mutex> shared(gLongLine);
    WriteAll(text);
  } else {
    const std::unique_lock<std::shared_mutex> alone(gLongLine);
    WriteAll(text);
  }
}

}  // namespace platform
