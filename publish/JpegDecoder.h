#pragma once
// JPEG decoding through libjpeg-turbo, scaled down by the decoder itself where the result is
// still large enough: a 12-megapixel photo for a small thumbnail is never decoded whole.

#include "publish/ImageOps.h"

#include <string_view>

/// The smallest of 1/8, 1/4, 1/2 and 1/1 of the JPEG in data that still covers a box x box fit
/// of it, in RGB (grayscale, YCbCr and CMYK/YCCK alike). Throws EIdImageError when data is no
/// JPEG, is damaged or cut short, or is over the size limits or the decode budget (a large
/// progressive file); never exits or prints. Any thread.
TImage DecodeJpeg(std::string_view data, int box);
