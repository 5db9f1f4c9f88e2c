#pragma once
// Regular files opened for reading: the only kind of file the system ever sends.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "platform/FileSystem.h"

namespace platform {

/// A regular file open for reading (read-only, closed on exec), with its size and last-write time
/// as they were when it was opened. Opening never blocks: the open of a FIFO without a writer
/// would wait for one, so the kind is checked on the open descriptor and anything but a regular
/// file is refused (also one swapped in after a caller's check). Owns its descriptor; move-only.
/// Used by one thread at a time.
class TReadOnlyFile {
public:
  /// Opens path. On failure IsOpen() is false and Error() names why: the system's error text,
  /// "Not a regular file", or "Invalid argument" for a path holding a NUL, which never reaches
  /// the system (it would cut the path short there).
  explicit TReadOnlyFile(const std::string& path);
  ~TReadOnlyFile();
  TReadOnlyFile(TReadOnlyFile&& other) noexcept;
  TReadOnlyFile& operator=(TReadOnlyFile&& other) noexcept;
  TReadOnlyFile(const TReadOnlyFile&) = delete;
  TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

  bool IsOpen() const { return FHandle != -1; }
  const std::string& Error() const { return FError; }
  /// The descriptor, e.g. for sendfile(2); -1 when not open. Stays owned by this object.
  int Handle() const { return FHandle; }
  std::int64_t SizeAtOpen() const { return FSize; }
  std::time_t LastWriteAtOpen() const { return FLastWrite; }
  /// The last-write time at open in nanoseconds since the epoch, and the file's identity.
  std::int64_t LastWriteNsAtOpen() const { return FLastWriteNs; }
  TFileId IdAtOpen() const { return FId; }

  /// Up to count bytes from offset; 0 at the end of the file and when the read fails.
  std::size_t ReadAt(void* buffer, std::size_t count, std::int64_t offset) const;
  /// The file's size now; 0 when it cannot be read.
  std::int64_t CurrentSize() const;
  /// Whether the file's size or last-write time is no longer what it was at open (a write since,
  /// or a status that cannot be read): one status read for both.
  bool ChangedSinceOpen() const;

private:
  void Close();

  int FHandle = -1;
  std::int64_t FSize = 0;
  std::time_t FLastWrite = 0;
  std::int64_t FLastWriteNs = 0;
  TFileId FId;
  std::string FError;
};

/// Up to count bytes of the open file handle from offset; 0 at the end of the file and when the
/// read fails. Any thread.
std::size_t ReadFileAt(int handle, void* buffer, std::size_t count, std::int64_t offset);

}  // namespace platform
