#pragma once
// JPEG encoding of finished thumbnails through libjpeg-turbo.

#include "publish/ImageOps.h"

#include <string>

/// The baseline JPEG file of image (RGB) at quality (1 to 100). Throws EIdImageError when the
/// encoder fails; never exits or prints. Any thread.
std::string EncodeJpeg(const TImage& image, int quality = 80);
