#pragma once
// CRC-32 as zip and gzip use it (reflected polynomial 0xEDB88320), at memory speed.

#include <cstddef>
#include <cstdint>
#include <string_view>

/// The CRC-32 of data continued from crc, the CRC-32 of what came before (0 to start).
/// Any thread.
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size);

inline std::uint32_t Crc32Of(std::string_view bytes) { return Crc32Update(0, bytes.data(), bytes.size()); }
