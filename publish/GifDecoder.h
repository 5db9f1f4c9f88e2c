#pragma once
// GIF decoding through giflib: the first frame only, which is what a preview shows.

#include "publish/ImageOps.h"

#include <string_view>

/// The first frame of the GIF in data as RGB on its logical screen, transparent and uncovered
/// pixels white. A screen larger than twice a box x box fit (box 0: none) comes block-averaged
/// towards that size, read row by row, unless the frame is interlaced: then, as for a smaller
/// one, the whole screen must fit the decode budget. Throws EIdImageError when data is no GIF,
/// is damaged or cut short, has no frame, or is over the size limits or the budget. Any thread.
TImage DecodeGif(std::string_view data, int box = 0);
