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
  switch (CheckedImageHeader(data).Format) {
    case TImageFormat::Jpeg:
      // Scaled before turning: the decoder's box is the same either way up.
      image = Orient(DecodeJpeg(data, box), JpegExifOrientation(data));
      break;
    case TImageFormat::Png: image = DecodePng(data, box); break;
    case TImageFormat::Webp: image = DecodeWebp(data, box); break;
    case TImageFormat::Gif: image = DecodeGif(data); break;
    case TImageFormat::None: throw EIdImageError("Not an image");
  }
  return EncodeJpeg(FitWithin(std::move(image), box), 80);
}
