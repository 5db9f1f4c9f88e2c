#include "publish/FileCrcSource.h"

#include <algorithm>
#include <vector>

#include "http/net/IdException.h"
#include "platform/ReadOnlyFile.h"
#include "publish/ArchiveEntryFile.h"
#include "publish/Crc32.h"
#include "publish/CrcCache.h"

namespace {

constexpr std::int64_t kReadSize = 1 << 20;

// The checksum of the whole file, as it was when the walk saw it.
std::uint32_t ReadCrc(const TArchiveEntry& entry) {
  const platform::TReadOnlyFile file(entry.DiskPath);
  if (!file.IsOpen()) throw EFOpenError("Cannot open file \"" + entry.DiskPath + "\". " + file.Error());
  CheckOpenedAsWalked(entry, file);

  std::vector<char> buffer(static_cast<std::size_t>(std::min(entry.Size, kReadSize)));
  std::uint32_t crc = 0;
  for (std::int64_t offset = 0; offset < entry.Size;) {
    const std::size_t wanted = static_cast<std::size_t>(std::min(entry.Size - offset, kReadSize));
    const std::size_t n = file.ReadAt(buffer.data(), wanted, offset);
    if (n == 0) ThrowEntryChanged(entry);  // shorter than its size
    crc = Crc32Update(crc, buffer.data(), n);
    offset += static_cast<std::int64_t>(n);
  }
  // A write while it was read leaves the size or the time changed.
  CheckUnchangedSinceOpen(entry, file);
  return crc;
}

}  // namespace

std::uint32_t TFileCrcSource::CrcOf(const TArchiveEntry& entry) {
  // Without its identity a file could take another's checksum: such a file is always read.
  if (entry.Id == platform::TFileId{}) return ReadCrc(entry);
  const TCrcKey key{entry.Id.Device, entry.Id.Inode, entry.Size, entry.LastWriteNs};
  if (const auto known = FCache.Find(key)) return *known;
  const std::uint32_t crc = ReadCrc(entry);
  FCache.Put(key, crc);
  return crc;
}
