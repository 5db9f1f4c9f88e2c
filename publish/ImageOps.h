#pragma once
// Pixel work on decoded images: alpha flattened on white, the eight EXIF orientations undone,
// and area-average scaling to fit a box.

#include <cstdint>
#include <vector>

/// A decoded image, 8-bit sRGB, 3 bytes (RGB) or 4 (RGBA) a pixel, rows without padding.
struct TImage {
  int Width = 0;
  int Height = 0;
  int Channels = 3;
  std::vector<std::uint8_t> Pixels;
};

/// An image of width x height with channels bytes a pixel, every byte 0.
TImage BlankImage(int width, int height, int channels);

/// image as RGB: an RGBA image is composed over white, an RGB one returned as it is.
TImage FlattenOnWhite(TImage image);

/// The image turned upright from the EXIF orientation it was stored in (1 to 8; any other value
/// counts as 1, upright already).
TImage Orient(TImage image, int orientation);

/// image scaled down to fit within box x box, aspect kept, each output pixel the average of the
/// source area it covers (at least 1 x 1); an image that fits already is returned as it is.
TImage FitWithin(TImage image, int box);
