#pragma once
// What the system asks of a file or folder on disk: its attributes (with the Windows bits
// given Linux meanings), size, last-write time and identity. Status is read with stat, which
// follows symbolic links. Any thread.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace platform {

constexpr std::uint32_t faReadOnly = 0x01;   // the owner's write permission bit is clear
constexpr std::uint32_t faHidden = 0x02;     // the name begins with "." and is not "." or ".."
constexpr std::uint32_t faSysFile = 0x04;    // character or block device, FIFO or socket
constexpr std::uint32_t faVolumeID = 0x08;   // never set
constexpr std::uint32_t faDirectory = 0x10;  // a folder
constexpr std::uint32_t faArchive = 0x20;    // a regular file
constexpr std::uint32_t faAnyFile = 0x3F;
/// The attributes of an entry whose status cannot be read (missing, a dangling link, no
/// permission): every bit set, so any withheld kind withholds it.
constexpr std::uint32_t faUnreadable = 0xFFFFFFFF;

/// Device and inode: the identity of a file or folder, whatever path reaches it.
struct TFileId {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  bool operator==(const TFileId&) const = default;
};

struct TFileInfo {
  std::uint32_t Attr = faUnreadable;
  std::int64_t Size = 0;        // bytes, 64-bit; 0 when unreadable
  std::time_t LastWrite = 0;    // seconds since the epoch; a dangling link gives the link's own
  std::int64_t LastWriteNs = 0; // the same moment to the nanosecond
  TFileId Id;                   // zero when unreadable
  bool Readable() const { return Attr != faUnreadable; }
};

/// Whether a name (no folder part) is hidden: it begins with "." and is not "." or "..".
bool IsHiddenName(std::string_view name);

/// The status of the file or folder at path. The hidden bit comes from the last segment of
/// path (a trailing "/" ignored). Never throws: an unreadable entry has Attr faUnreadable.
TFileInfo GetFileInfo(const std::string& path);

/// The status of the entry name inside the folder open as folderFd (no "/" in name).
TFileInfo GetFileInfoAt(int folderFd, const std::string& name);

/// The attributes of path, faUnreadable when they cannot be read.
std::uint32_t FileGetAttr(const std::string& path);

/// Whether path names an existing entry that is not a folder (a device or FIFO counts).
bool FileExists(const std::string& path);

/// Whether path names an existing folder.
bool DirectoryExists(const std::string& path);

/// Whether path names a regular file: the only kind that may be opened for sending, since
/// reading a FIFO or a device could block or never end.
bool IsRegularFile(const std::string& path);

/// Whether this process may open the file at path for reading, by its permissions for the
/// process's effective user; nothing is opened (a cheap check for many files before they are).
bool MayReadFile(const std::string& path);

/// The first maxBytes bytes of the file at path (a pipe such as /dev/fd/N too) in text; false,
/// text unchanged, when it cannot be opened or read. For small files the program reads itself
/// (the system's type table, a password file), never for what it publishes.
bool ReadTextFile(const std::string& path, std::string& text, std::size_t maxBytes = 16 << 20);

}  // namespace platform
