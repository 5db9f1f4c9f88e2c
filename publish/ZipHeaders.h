#pragma once
// The records of a zip archive of stored (uncompressed) entries: the local header before each
// entry's data, the central directory record of each entry, and the end records. Each record's
// length depends only on the name, the size and the offsets, never on the CRC-32, so that an
// archive's layout is known before any file is read.

#include <cstdint>
#include <string>
#include <string_view>

/// What the records of one entry say.
struct TZipEntryFacts {
  std::string_view Name;          // UTF-8; a folder's ends in "/"
  bool Folder = false;
  std::int64_t Size = 0;          // bytes of data; 0 for a folder
  std::int64_t LastWriteNs = 0;   // nanoseconds since the epoch
  std::uint32_t Crc = 0;          // CRC-32 of the data
  std::int64_t LocalOffset = 0;   // where the local header begins (central record only)
};

/// The longest name a zip record takes: its length field and the extra fields that repeat it
/// must fit in 16 bits.
constexpr std::size_t kZipMaxNameLength = 32'000;

/// The local header of an entry, extra fields included: UTF-8 flag, real CRC-32 and sizes (no
/// data descriptor), zip64 sizes only for an entry of 0xFFFFFFFF bytes or more.
std::string ZipLocalHeader(const TZipEntryFacts& facts);

/// The central directory record of an entry; zip64 fields for its sizes and offset only where
/// they do not fit 32 bits.
std::string ZipCentralRecord(const TZipEntryFacts& facts);

/// The end of the archive: the end of central directory record, preceded by the zip64 end record
/// and its locator only when the entry count (over 65,535), the central directory's offset or
/// its size needs them.
std::string ZipEndRecords(std::int64_t entryCount, std::int64_t centralOffset, std::int64_t centralSize);
