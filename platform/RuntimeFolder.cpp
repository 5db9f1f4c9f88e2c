#include "platform/RuntimeFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace {

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string WithTrailingSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

}  // namespace

bool IsPrivateFolder(const std::string& path) {
  struct stat info {};
  // lstat: a link could lead to another user's folder.
  if (path.empty() || ::lstat(path.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string PrivateRuntimeFolder(const std::string& name) {
  const std::string runtime = EnvironmentValue("XDG_RUNTIME_DIR");
  if (IsPrivateFolder(runtime)) return WithTrailingSlash(runtime);
  std::string temp = EnvironmentValue("TMPDIR");
  if (temp.empty()) temp = "/tmp";
  const std::string folder = WithTrailingSlash(temp) + name + "-runtime-" + std::to_string(::getuid());
  // An existing entry is checked, never changed: it may belong to someone else.
  ::mkdir(folder.c_str(), 0700);
  return IsPrivateFolder(folder) ? folder + "/" : std::string();
}

}  // namespace platform
