#include "publish/RootPath.h"

#include <string_view>

#include "platform/FilePath.h"
#include "platform/FileSystem.h"

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool IsInsideRoot(const std::string& path, const std::string& root) {
  if (root.empty()) return false;
  const std::string base = WithoutTrailingSlash(platform::ExpandFileName(root));
  const std::string full = WithoutTrailingSlash(path);
  if (base == "/") return full.starts_with('/');
  return full == base || (full.starts_with(base) && full[base.size()] == '/');
}

bool HasWithheldFolder(const std::string& path, const std::string& root, std::uint32_t withheldMask) {
  if ((withheldMask & platform::faHidden) == 0) return false;
  const std::string base = WithoutTrailingSlash(platform::ExpandFileName(root));
  // "/" never ends a double-byte character, so the segments split at every "/".
  std::string_view below = std::string_view(path).substr(base == "/" ? 0 : base.size());
  while (!below.empty()) {
    const std::size_t slash = below.find('/');
    if (platform::IsHiddenName(below.substr(0, slash))) return true;
    if (slash == std::string_view::npos) break;
    below.remove_prefix(slash + 1);
  }
  return false;
}
