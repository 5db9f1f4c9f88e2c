#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <string_view>

namespace platform {
namespace {

bool IsHiddenName(std::string_view name) { return name.size() > 1 && name[0] == '.' && name != ".."; }

std::string_view LastSegment(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

TFileInfo InfoFromStat(const struct stat& st, std::string_view name) {
  TFileInfo info;
  info.Attr = 0;
  if ((st.st_mode & S_IWUSR) == 0) info.Attr |= faReadOnly;
  if (IsHiddenName(name)) info.Attr |= faHidden;
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
    info.Attr |= faSysFile;
  if (S_ISDIR(st.st_mode)) info.Attr |= faDirectory;
  if (S_ISREG(st.st_mode)) info.Attr |= faArchive;
  info.Size = static_cast<std::int64_t>(st.st_size);
  info.LastWrite = st.st_mtim.tv_sec;
  info.Id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return info;
}

// The entry could not be read through its links: keep every bit set, and take the time of
// the entry itself when it is there (a dangling link still has one).
TFileInfo UnreadableInfo(int folderFd, const char* path) {
  TFileInfo info;
  struct stat st {};
  if (fstatat(folderFd, path, &st, AT_SYMLINK_NOFOLLOW) == 0) info.LastWrite = st.st_mtim.tv_sec;
  return info;
}

TFileInfo InfoAt(int folderFd, const char* path, std::string_view name) {
  struct stat st {};
  if (fstatat(folderFd, path, &st, 0) != 0) return UnreadableInfo(folderFd, path);
  return InfoFromStat(st, name);
}

}  // namespace

TFileInfo GetFileInfo(const std::string& path) {
  if (path.empty()) return {};
  return InfoAt(AT_FDCWD, path.c_str(), LastSegment(path));
}

TFileInfo GetFileInfoAt(int folderFd, const std::string& name) {
  return InfoAt(folderFd, name.c_str(), name);
}

std::uint32_t FileGetAttr(const std::string& path) { return GetFileInfo(path).Attr; }

bool FileExists(const std::string& path) {
  const TFileInfo info = GetFileInfo(path);
  return info.Readable() && (info.Attr & faDirectory) == 0;
}

bool DirectoryExists(const std::string& path) {
  const TFileInfo info = GetFileInfo(path);
  return info.Readable() && (info.Attr & faDirectory) != 0;
}

bool IsRegularFile(const std::string& path) {
  const TFileInfo info = GetFileInfo(path);
  return info.Readable() && (info.Attr & faArchive) != 0;
}

}  // namespace platform
