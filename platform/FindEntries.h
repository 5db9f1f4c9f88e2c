#pragma once
// Folder enumeration with a wildcard pattern and an attribute filter, in the order a Windows
// user sees: "." and ".." first, then by name ignoring ASCII letter case, ties in byte order.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

namespace platform {

/// One entry of a folder: its name (bytes of the system code page, no folder part) and its
/// status, links followed.
struct TSearchRec : TFileInfo {
  std::string Name;
};

/// Whether name matches the wildcard pattern: "*" any run of characters, "?" one character,
/// other characters equal ignoring ASCII letter case (the bytes of a double-byte character
/// compare exactly). "*" and "*.*" match every name; a pattern ending in "." matches only
/// names without "." (so "*." picks the names without an extension).
bool MatchesMask(std::string_view name, std::string_view pattern);

/// The entries of folder whose names match pattern and that carry none of the bits hidden,
/// system, volume label or folder missing from attrMask (read-only and archive never keep an
/// entry out). A folder that cannot be read gives no entries. Never changes the working
/// directory; any thread.
std::vector<TSearchRec> FindEntries(const std::string& folder, std::string_view pattern,
                                    std::uint32_t attrMask);

}  // namespace platform
