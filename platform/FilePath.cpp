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

// Splits path into its segments, stepping over double-byte characters so that a trail byte
// equal to "\" never separates.
std::vector<std::string_view> Segments(std::string_view path) {
  std::vector<std::string_view> segments;
  segments.reserve(16);  // enough for most paths in one allocation
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size();) {
    if (i == path.size() || IsPathSeparator(path[i])) {
      if (i > start) segments.push_back(path.substr(start, i - start));
      start = ++i;
    } else {
      i += CharLength(path, i);
    }
  }
  return segments;
}

// Whether path ends in a separator that is not the trail byte of a double-byte character.
bool EndsInSeparator(std::string_view path) {
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
  const std::vector<std::string_view> segments = Segments(absolute);
  std::vector<std::string_view> kept;
  kept.reserve(segments.size());
  for (std::string_view segment : segments) {
    if (segment == ".") continue;
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(segment);
  }
  std::string result;
  result.reserve(absolute.size() + 1);
  for (std::string_view segment : kept) {
    result += '/';
    result += segment;
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

