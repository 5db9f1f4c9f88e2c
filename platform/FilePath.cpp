#include "platform/FilePath.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/CodePage.h"

namespace platform {
namespace {

std::string WorkingDirectory() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return "/";  // the working directory is gone: "/" is all we can offer
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

// Whether path ends in a separator that is not the trail byte of a double-byte character.
bool EndsInSeparator(std::string_view path) {
  if (!HasLeadBytes()) return !path.empty() && IsPathSeparator(path.back());
  bool result = false;
  for (std::size_t i = 0; i < path.size();) {
    result = IsPathSeparator(path[i]);
    i += CharLength(path, i);
  }
  return result;
}

}  // namespace

bool HasEmbeddedNul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

std::string ExpandFileName(std::string_view path) {
  std::string absolute;
  if (path.empty() || !IsPathSeparator(path[0])) absolute = WorkingDirectory() + "/";
  absolute += path;
  // The segments are taken in one walk, stepping over double-byte characters so that a trail
  // byte equal to "\" never separates; ".." takes back the last one kept, which ends at the
  // last "/" of the result ("/" is never a trail byte).
  std::string result;
  result.reserve(absolute.size() + 1);
  const std::string_view whole(absolute);
  const bool leadBytes = HasLeadBytes();
  std::size_t start = 0;
  for (std::size_t i = 0; i <= whole.size();) {
    if (i < whole.size() && !IsPathSeparator(whole[i])) {
      i += leadBytes ? CharLength(whole, i) : 1;
      continue;
    }
    const std::string_view segment = whole.substr(start, i - start);
    if (segment == "..") {
      result.resize(result.empty() ? 0 : result.rfind('/'));
    } else if (!segment.empty() && segment != ".") {
      result += '/';
      result += segment;
    }
    start = ++i;
  }
  if (result.empty() || EndsInSeparator(path)) result += '/';
  return result;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string result(folder);
  if (result.empty() || result.back() != '/') result += '/';
  result += name;
  return result;
}

}  // namespace platform

