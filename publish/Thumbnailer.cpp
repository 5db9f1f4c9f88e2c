#include "publish/Thumbnailer.h"

#include "http/net/IdException.h"
#include "publish/ExifOrientation.h"
#include "publish/GifDecoder.h"
#include "publish/ImageHeader.h"
#include "publish/JpegDecoder.h"
#include "publish/JpegEncoder.h"
#include "publish/PngDecoder.h"
#include "publish/WebpDecoder.h"

std::string MakeThumbnail(std::string_view data, int box) {
  TImage image;
  int orientation = 1;
  switch (CheckedImageHeader(data).Format) {
    case TImageFormat::Jpeg:
      image = DecodeJpeg(data, box);
      orientation = JpegExifOrientation(data);
      break;
    case TImageFormat::Png: image = DecodePng(data, box); break;
    case TImageFormat::Webp: image = DecodeWebp(data, box); break;
    case TImageFormat::Gif: image = DecodeGif(data, box); break;
    case TImageFormat::None: throw EIdImageError("Not an image");
  }
  // Turned after fitting, when it has the fewest pixels: the box is the same either way up.
  return EncodeJpeg(Orient(FitWithin(std::move(image), box), orientation), 80);
}
