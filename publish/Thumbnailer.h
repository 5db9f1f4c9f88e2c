#pragma once
// A thumbnail from the bytes of an image file: decoded at the smallest scale that serves, turned
// upright, fitted to its box and encoded as JPEG.

#include <string>
#include <string_view>

/// The thumbnail of the image file in data (JPEG, PNG, WebP or GIF, by its first bytes, not by
/// its name) as a JPEG file of quality 80 fitting within box x box pixels, aspect kept; an image
/// smaller than the box keeps its size. Throws EIdImageError for anything else, a damaged file
/// or one over the size limits. Any thread.
std::string MakeThumbnail(std::string_view data, int box);
