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
/// count RGBA pixels composed over white into count RGB pixels (rgb may be rgba itself).
void FlattenPixelsOnWhite(const std::uint8_t* rgba, std::uint8_t* rgb, std::size_t count);

/// The image turned upright from the EXIF orientation it was stored in (1 to 8; any other value
/// counts as 1, upright already).
TImage Orient(TImage image, int orientation);

/// Shrinks an image row by row as a decoder delivers it, each output pixel the average of a
/// Factor x Factor block (smaller at the right and bottom edges), so that a large image never
/// lies whole in memory. Used by one thread.
class TBlockReducer {
public:
  TBlockReducer(int width, int height, int channels, int factor);
  /// Adds the next source row (width x channels bytes); rows beyond height are ignored.
  void AddRow(const std::uint8_t* row);
  /// The reduced image; rows never added count as black.
  TImage Finish();

private:
  void FlushBand();
  const int FWidth, FHeight, FFactor;
  TImage FOut;
  std::vector<std::uint32_t> FSums;  // the band of rows being added, one sum per output byte
  int FRow = 0;
};

/// The factor by which an image whose longer side is longSide can shrink while staying at least
/// twice box on that side (1 when it is not that large).
int ReductionFactor(std::uint32_t longSide, int box);

/// image scaled down to fit within box x box, aspect kept, each output pixel the average of the
/// source area it covers (at least 1 x 1); an image that fits already is returned as it is.
TImage FitWithin(TImage image, int box);
