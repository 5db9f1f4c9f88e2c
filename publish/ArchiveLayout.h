#pragma once
// A folder as one uncompressed archive (zip or POSIX tar): its layout computed from the walk's
// entries before the first byte, so that its exact length, its entity tag and any byte range
// of it are known without building it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"

/// One entry of a folder archive, as the walk found it.
struct TArchiveEntry {
  std::string Path;            // inside the archive: "/" separators, the folder's own name first;
                               // bytes of the disk name (not yet made valid UTF-8); no trailing "/"
  bool Folder = false;
  std::int64_t Size = 0;       // bytes; 0 for a folder
  std::int64_t LastWriteNs = 0;  // modification time, nanoseconds since the epoch (UTC)
  platform::TFileId Id;        // device and inode
  std::string DiskPath;        // the full path on disk (files: where the data comes from)
};

enum class TArchiveFormat { Zip, Tar };

/// Where an archive's bytes go: literal bytes, or a range of an entry's file, which the output
/// may send without copying (sendfile). An output throws to stop the archive (a client gone, or
/// a file whose size or modification time no longer matches its entry).
class IArchiveOutput {
public:
  virtual ~IArchiveOutput() = default;
  virtual void WriteBytes(std::string_view bytes) = 0;
  /// count bytes of entry's file from offset; throws when the file changed since the walk.
  virtual void WriteFileRange(const TArchiveEntry& entry, std::int64_t offset, std::int64_t count) = 0;
};

/// The CRC-32 of a file entry's data (zip only); may read the file, or take it from a cache.
/// Throws when the file cannot be read whole or changed since the walk.
class ICrcSource {
public:
  virtual ~ICrcSource() = default;
  virtual std::uint32_t CrcOf(const TArchiveEntry& entry) = 0;
};

/// The layout of one archive. Immutable once made; any thread may read it.
class TArchiveLayout {
public:
  TArchiveLayout(TArchiveFormat format, std::vector<TArchiveEntry> entries);

  TArchiveFormat Format() const;
  const std::vector<TArchiveEntry>& Entries() const;
  /// The archive's exact length in bytes.
  std::int64_t Size() const;
  /// A strong entity tag (quoted) made from the format and every entry's path, size,
  /// modification time and inode: equal for equal layouts only.
  std::string ETag() const;
  /// The newest modification time among the entries, in seconds since the epoch (0 when none).
  std::int64_t NewestLastWrite() const;
  /// Writes bytes [first, first + count) of the archive to output, in order; count bytes exactly
  /// unless output throws. crc is asked only for the zip entries whose header or central
  /// directory record falls in the range.
  void Write(IArchiveOutput& output, ICrcSource& crc, std::int64_t first, std::int64_t count) const;

private:
  class TRangeWriter;  // the requested range over the archive's parts, in order

  // Where an entry's data ends (its header comes before, a tar entry's padding after).
  std::int64_t DataEnd(std::size_t index) const;
  std::int64_t DataStart(std::size_t index) const { return DataEnd(index) - FEntries[index].Size; }
  void WriteEntries(TRangeWriter& writer, ICrcSource& crc) const;
  void WriteZipTrailer(TRangeWriter& writer, ICrcSource& crc) const;

  // The system code page when the layout was made: names are made again for every write, and
  // must come out as long as they were measured.
  std::string ArchiveName(const TArchiveEntry& entry) const;
  std::string TarHeader(const TArchiveEntry& entry) const;

  TArchiveFormat FFormat;
  platform::TCodePage FCodePage;
  std::vector<TArchiveEntry> FEntries;
  std::vector<std::int64_t> FOffsets;         // where each entry's header begins; the last: the trailer
  std::vector<std::int64_t> FCentralOffsets;  // zip: where each central record begins; the last: the end records
  std::int64_t FSize = 0;
  std::int64_t FNewestLastWrite = 0;
  std::string FETag;
};
