#pragma once
// The desktop's own thumbnail cache (~/.cache/thumbnails/), read and never written: a PNG per
// file, named by the MD5 of the file's URI and stamped with that URI and the file's time.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

/// The "file://" URI of an absolute path: every byte but letters, digits, "-._~/" percent-encoded.
/// Any thread.
std::string FileUri(const std::string& path);

/// The value of the tEXt chunk named keyword in the PNG file png; empty when there is none.
/// Reads only inside png. Any thread.
std::string PngText(std::string_view png, std::string_view keyword);

/// The PNG thumbnail that the desktop cache under folder (with a trailing "/", holding normal/,
/// large/, x-large/ and xx-large/) keeps for path last written at lastWrite, the smallest whose
/// longer side reaches longSide; none when there is no such file, or its Thumb::URI or
/// Thumb::MTime differs (the file changed since). Any thread.
std::optional<std::string> FindDesktopThumbnail(const std::string& folder, const std::string& path,
                                                std::time_t lastWrite, std::uint32_t longSide);
