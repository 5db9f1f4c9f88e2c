#include "publish/WebpDecoder.h"

#include "http/net/IdException.h"
#include "publish/ImageHeader.h"

#include <webp/decode.h>

TImage DecodeWebp(std::string_view data) {
  if (CheckedImageHeader(data).Format != TImageFormat::Webp) throw EIdImageError("Not a WebP image");
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(bytes, data.size(), &features) != VP8_STATUS_OK) throw EIdImageError("Damaged WebP image");
  // The bitstream's own size is the one decoded: checked again, whatever the container said.
  if (features.width <= 0 || features.height <= 0 || static_cast<std::uint32_t>(features.width) > kMaxImageSide ||
      static_cast<std::uint32_t>(features.height) > kMaxImageSide ||
      static_cast<std::uint64_t>(features.width) * features.height > kMaxImagePixels)
    throw EIdImageError("Image too large");
  TImage image = BlankImage(features.width, features.height, 4);
  if (WebPDecodeRGBAInto(bytes, data.size(), image.Pixels.data(), image.Pixels.size(), features.width * 4) == nullptr)
    throw EIdImageError("Damaged WebP image");
  return FlattenOnWhite(std::move(image));
}
