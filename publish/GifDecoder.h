#pragma once
// GIF decoding through giflib: the first frame only, which is what a preview shows.

#include "publish/ImageOps.h"

#include <string_view>

/// The first frame of the GIF in data as RGB on its logical screen, transparent and uncovered
/// pixels white. Throws EIdImageError when data is no GIF, is damaged or cut short, has no
/// frame, or is over the size limits or the decode budget. Any thread.
TImage DecodeGif(std::string_view data);
