#pragma once
// Test images made on the spot with the encoders the program links anyway: each format, JPEG
// in its progressive and CMYK kinds, an EXIF orientation, and quadrant pictures whose corners
// show which way is up.

#include "publish/ImageOps.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace samples {

struct TColour {
  std::uint8_t R, G, B;
};
constexpr TColour kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kYellow{255, 255, 0};

/// width x height RGB, its four quadrants red (top left), green (top right), blue (bottom
/// left) and yellow (bottom right).
TImage Quadrants(int width, int height);
/// width x height in one colour; alpha adds a fourth channel of that value.
TImage Plain(int width, int height, TColour colour, int alpha = -1);

std::string Jpeg(const TImage& rgb, bool progressive = false);
/// An Adobe-style inverted CMYK JPEG of rgb.
std::string CmykJpeg(const TImage& rgb);
/// jpeg with an EXIF block stating orientation inserted after its start marker.
std::string WithOrientation(const std::string& jpeg, int orientation, bool littleEndian = true);
/// A PNG of image, with tEXt chunks of the keyword and text pairs given.
std::string Png(const TImage& image, const std::vector<std::pair<std::string, std::string>>& texts = {});
/// A width x height PNG in one colour (a palette of one, one bit a pixel), written row by row.
std::string PlainPng(int width, int height, TColour colour, bool interlaced);
std::string Webp(const TImage& image);
/// A GIF of image (RGB), pixels of the colour transparent marked transparent.
std::string Gif(const TImage& image, const TColour* transparent = nullptr);

/// A GIF whose logical screen is width x height, its only frame one red pixel at the top left.
std::string GifScreen(int width, int height, bool interlaced = false);

/// The colour of image at (x, y); and whether it is within tolerance of expected.
TColour At(const TImage& image, int x, int y);
bool Near(TColour actual, TColour expected, int tolerance = 48);

}  // namespace samples
