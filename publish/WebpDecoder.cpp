#include "publish/WebpDecoder.h"

#include "http/net/IdException.h"
#include "publish/ImageHeader.h"

#include <webp/decode.h>

#include <algorithm>
#include <cmath>

TImage DecodeWebp(std::string_view data, int box) {
  if (CheckedImageHeader(data).Format != TImageFormat::Webp) throw EIdImageError("Not a WebP image");
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config) || WebPGetFeatures(bytes, data.size(), &config.input) != VP8_STATUS_OK)
    throw EIdImageError("Damaged WebP image");
  const int width = config.input.width, height = config.input.height;
  // The bitstream's own size is the one decoded: checked again, whatever the container said.
  if (width <= 0 || height <= 0 || static_cast<std::uint32_t>(width) > kMaxImageSide ||
      static_cast<std::uint32_t>(height) > kMaxImageSide ||
      static_cast<std::uint64_t>(width) * height > kMaxImagePixels)
    throw EIdImageError("Image too large");
  // A lossless picture (or one of unknown kind) is decoded whole, 4 bytes a pixel, whatever the
  // output size; a lossy one row by row, but its alpha plane whole.
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
  const std::uint64_t working = config.input.format == 1 ? (config.input.has_alpha ? pixels : 0) : pixels * 4;
  if (!WithinDecodeBudget(data.size(), working)) throw EIdImageError("Image too large");
  // The decoder scales while it decodes, so a large picture never lies whole in memory; twice
  // the box leaves the area average something to work with.
  int outWidth = width, outHeight = height;
  if (std::max(width, height) > 2 * box) {
    const double scale = 2.0 * box / std::max(width, height);
    outWidth = std::max(1, static_cast<int>(std::lround(width * scale)));
    outHeight = std::max(1, static_cast<int>(std::lround(height * scale)));
    config.options.use_scaling = 1;
    config.options.scaled_width = outWidth;
    config.options.scaled_height = outHeight;
  }
  TImage image = BlankImage(outWidth, outHeight, 4);
  config.output.colorspace = MODE_RGBA;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = image.Pixels.data();
  config.output.u.RGBA.stride = outWidth * 4;
  config.output.u.RGBA.size = image.Pixels.size();
  const VP8StatusCode status = WebPDecode(bytes, data.size(), &config);
  WebPFreeDecBuffer(&config.output);
  if (status != VP8_STATUS_OK) throw EIdImageError("Damaged WebP image");
  return FlattenOnWhite(std::move(image));
}
