#pragma once
// Full paths measured against the published root: inside it or not, and below a withheld folder.

#include <cstdint>
#include <string>

/// path without the "/"s at its end, "/" itself kept. Any thread.
std::string WithoutTrailingSlash(std::string path);

/// Whether path (a full path) is root or lies below it: equal to it, or beginning with it and a
/// "/", compared byte for byte, after the same expansion and a trailing "/" ignored on both. An
/// empty root holds nothing. Any thread.
bool IsInsideRoot(const std::string& path, const std::string& root);

/// Whether path (a full path inside root) lies in or is a hidden folder below root while hidden
/// entries are withheld (faHidden in withheldMask, a rule's Mask): its own name or a folder on the way down
/// from root begins with ".". The root's own path does not count. Any thread.
bool HasWithheldFolder(const std::string& path, const std::string& root, std::uint32_t withheldMask);
