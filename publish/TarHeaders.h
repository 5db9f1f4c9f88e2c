#pragma once
// The header blocks of a POSIX pax (ustar) tar archive. Each entry gets one ustar header,
// preceded by a pax extended header only when ustar cannot say it exactly: a name that is not
// ASCII or does not fit the ustar name and prefix fields, a size of 8 GiB or more, or a
// modification time with a fraction of a second or outside ustar's 0..8^11-1 seconds. An
// archive of whole-second ASCII short names is then a plain ustar archive.

#include <cstdint>
#include <string>
#include <string_view>

constexpr std::int64_t kTarBlock = 512;

/// The header blocks of one entry (a multiple of 512 bytes): name in UTF-8, a folder's ending
/// in "/".
std::string TarHeaderBlocks(std::string_view name, bool folder, std::int64_t size, std::int64_t lastWriteNs);

/// The size of TarHeaderBlocks(name, folder, size, lastWriteNs), found without making them.
std::int64_t TarHeaderSize(std::string_view name, std::int64_t size, std::int64_t lastWriteNs);

/// The zero bytes that pad size bytes of data to a whole block.
inline std::int64_t TarPadding(std::int64_t size) { return (kTarBlock - size % kTarBlock) % kTarBlock; }
