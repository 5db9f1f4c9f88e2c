#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string_view>

#include "platform/FilePath.h"

namespace platform {
namespace {

std::string_view LastSegment(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Only what the attributes, size, time and identity need.
constexpr unsigned kStatxWanted = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_INO;

std::int64_t NanosecondsOf(const struct statx_timestamp& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

TFileInfo InfoFromStatx(const struct statx& st, std::string_view name) {
  TFileInfo info;
  info.Attr = 0;
  const mode_t mode = st.stx_mode;
  if ((mode & S_IWUSR) == 0) info.Attr |= faReadOnly;
  if (IsHiddenName(name)) info.Attr |= faHidden;
  if (S_ISCHR(mode) || S_ISBLK(mode) || S_ISFIFO(mode) || S_ISSOCK(mode)) info.Attr |= faSysFile;
  if (S_ISDIR(mode)) info.Attr |= faDirectory;
  if (S_ISREG(mode)) info.Attr |= faArchive;
  info.Size = static_cast<std::int64_t>(st.stx_size);
  info.LastWrite = st.stx_mtime.tv_sec;
  info.LastWriteNs = NanosecondsOf(st.stx_mtime);
  info.Id = {static_cast<std::uint64_t>(makedev(st.stx_dev_major, st.stx_dev_minor)),
             static_cast<std::uint64_t>(st.stx_ino)};
  return info;
}

// The entry could not be read through its links: keep every bit set, and take the time of
// the entry itself when it is there (a dangling link still has one).
TFileInfo UnreadableInfo(int folderFd, const char* path) {
  TFileInfo info;
  struct statx st {};
  if (statx(folderFd, path, AT_SYMLINK_NOFOLLOW, STATX_MTIME, &st) == 0) {
    info.LastWrite = st.stx_mtime.tv_sec;
    info.LastWriteNs = NanosecondsOf(st.stx_mtime);
  }
  return info;
}

// statx rather than fstatat: it fills only the fields asked for, a little cheaper for each entry
// of a large listing. Synchronised as stat is: a listing shows what is on disk now.
TFileInfo InfoAt(int folderFd, const char* path, std::string_view name) {
  struct statx st {};
  if (statx(folderFd, path, AT_STATX_SYNC_AS_STAT, kStatxWanted, &st) != 0) return UnreadableInfo(folderFd, path);
  return InfoFromStatx(st, name);
}

}  // namespace

bool IsHiddenName(std::string_view name) { return name.size() > 1 && name[0] == '.' && name != ".."; }

TFileInfo GetFileInfo(const std::string& path) {
  if (path.empty() || HasEmbeddedNul(path)) return {};
  return InfoAt(AT_FDCWD, path.c_str(), LastSegment(path));
}

TFileInfo GetFileInfoAt(int folderFd, const std::string& name) {
  if (HasEmbeddedNul(name)) return {};
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

bool MayReadFile(const std::string& path) {
  return !HasEmbeddedNul(path) && ::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0;
}

bool ReadTextFile(const std::string& path, std::string& text, std::size_t maxBytes) {
  if (HasEmbeddedNul(path)) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::string read;
  char block[65536];
  while (read.size() < maxBytes) {
    file.read(block, static_cast<std::streamsize>(std::min(sizeof block, maxBytes - read.size())));
    read.append(block, static_cast<std::size_t>(file.gcount()));
    if (!file) break;  // the end, or a failure told apart below
  }
  if (file.bad()) return false;
  text = std::move(read);
  return true;
}

}  // namespace platform
