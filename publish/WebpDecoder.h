#pragma once
// WebP decoding through libwebp (lossy, lossless and the first frame of an animation).

#include "publish/ImageOps.h"

#include <string_view>

/// The WebP in data as RGB, transparency composed over white, scaled while decoding to twice a
/// box x box fit when it is larger than that. Throws EIdImageError when data is no WebP, is
/// damaged or cut short, or is over the size limits or the decode budget. Any thread.
TImage DecodeWebp(std::string_view data, int box);
