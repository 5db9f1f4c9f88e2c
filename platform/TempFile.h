#pragma once
// Unlinked temporary files: space on disk for bytes too many to hold in memory, gone with the
// last descriptor, so that nothing is left behind however the process ends.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

/// The folder for the program's temporary files: "$XDG_CACHE_HOME/velmora/" (by default
/// "~/.cache/velmora/"), created with mode 0700 when missing. Empty when it cannot be had. Any
/// thread.
std::string CacheFolder();

/// A file without a name, open for reading and writing, made in CacheFolder() or else in
/// $TMPDIR (or /tmp): with O_TMPFILE where the file system has it, else created under a random
/// name and unlinked at once. Owns its descriptor; closing it frees the space. Writes append.
/// Move-only; used by one thread at a time.
class TTempFile {
public:
  /// Throws std::system_error when no folder can hold one.
  TTempFile();
  ~TTempFile();
  TTempFile(TTempFile&& other) noexcept;
  TTempFile& operator=(TTempFile&& other) noexcept;
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  /// Appends count bytes. Throws std::system_error when they cannot all be written (a full disk).
  void Append(const void* bytes, std::size_t count);
  /// Up to count bytes from offset; 0 at the end and when the read fails.
  std::size_t ReadAt(void* buffer, std::size_t count, std::int64_t offset) const;
  /// The bytes appended so far.
  std::int64_t Size() const { return FSize; }
  /// The descriptor, e.g. for sendfile(2). Stays owned by this object.
  int Handle() const { return FHandle; }

private:
  void Close();

  int FHandle = -1;
  std::int64_t FSize = 0;
};

}  // namespace platform
