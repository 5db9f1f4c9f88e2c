#pragma once
// PNG decoding through libpng.

#include "publish/ImageOps.h"

#include <string_view>

/// The PNG in data as RGB, transparency composed over white (any bit depth, palette and
/// grayscale included; an interlaced file too). One larger than twice a box x box fit (box 0:
/// none) comes block-averaged towards that size, read row by row, unless it is interlaced: then,
/// as for a smaller one, the whole picture must fit the decode budget.
/// Throws EIdImageError when data is no PNG, is damaged or cut short, or is over the size
/// limits or the budget; never exits or prints. Any thread.
TImage DecodePng(std::string_view data, int box = 0);
