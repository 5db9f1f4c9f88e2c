#pragma once
// The SHA-256 digest, for the hashes a page's security policy names its own inline code by.

#include <array>
#include <cstdint>
#include <string_view>

/// The 32-byte SHA-256 digest of bytes. Any thread.
std::array<std::uint8_t, 32> Sha256(std::string_view bytes);
