#include "publish/ImageOps.h"

#include <algorithm>
#include <cmath>

TImage BlankImage(int width, int height, int channels) {
  TImage image;
  image.Width = width;
  image.Height = height;
  image.Channels = channels;
  image.Pixels.assign(static_cast<std::size_t>(width) * height * channels, 0);
  return image;
}

void FlattenPixelsOnWhite(const std::uint8_t* rgba, std::uint8_t* rgb, std::size_t count) {
  // Front to back: writing pixel i never overwrites a byte of a pixel not yet read.
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned alpha = rgba[i * 4 + 3];
    for (int c = 0; c < 3; ++c) {
      const unsigned value = rgba[i * 4 + c] * alpha + 255 * (255 - alpha);
      rgb[i * 3 + c] = static_cast<std::uint8_t>((value + 127) / 255);
    }
  }
}

TImage FlattenOnWhite(TImage image) {
  if (image.Channels != 4) return image;
  const std::size_t count = static_cast<std::size_t>(image.Width) * image.Height;
  FlattenPixelsOnWhite(image.Pixels.data(), image.Pixels.data(), count);
  image.Pixels.resize(count * 3);
  image.Channels = 3;
  return image;
}

TImage Orient(TImage image, int orientation) {
  if (orientation < 2 || orientation > 8) return image;
  // Orientations 5 to 8 store the picture on its side: width and height swap.
  const bool transpose = orientation >= 5;
  const int w = image.Width, h = image.Height, ch = image.Channels;
  TImage out = BlankImage(transpose ? h : w, transpose ? w : h, ch);
  for (int y = 0; y < out.Height; ++y) {
    for (int x = 0; x < out.Width; ++x) {
      // The stored pixel that appears at (x, y) when the picture is shown upright.
      int sx = x, sy = y;
      switch (orientation) {
        case 2: sx = w - 1 - x; break;
        case 3: sx = w - 1 - x; sy = h - 1 - y; break;
        case 4: sy = h - 1 - y; break;
        case 5: sx = y; sy = x; break;
        case 6: sx = y; sy = h - 1 - x; break;
        case 7: sx = w - 1 - y; sy = h - 1 - x; break;
        case 8: sx = w - 1 - y; sy = x; break;
      }
      std::copy_n(&image.Pixels[(static_cast<std::size_t>(sy) * w + sx) * ch], ch,
                  &out.Pixels[(static_cast<std::size_t>(y) * out.Width + x) * ch]);
    }
  }
  return out;
}

TImage FitWithin(TImage image, int box) {
  if (image.Width <= box && image.Height <= box) return image;
  const double scale = std::min(static_cast<double>(box) / image.Width, static_cast<double>(box) / image.Height);
  const int ow = std::max(1, static_cast<int>(std::lround(image.Width * scale)));
  const int oh = std::max(1, static_cast<int>(std::lround(image.Height * scale)));
  const int ch = image.Channels;
  TImage out = BlankImage(ow, oh, ch);
  // Box filter: each output pixel averages the whole source pixels whose centres fall in its
  // area, so no source pixel is skipped however large the reduction.
  std::vector<int> xStart(ow + 1), yStart(oh + 1);
  for (int x = 0; x <= ow; ++x) xStart[x] = static_cast<int>(static_cast<long long>(x) * image.Width / ow);
  for (int y = 0; y <= oh; ++y) yStart[y] = static_cast<int>(static_cast<long long>(y) * image.Height / oh);
  std::vector<std::uint32_t> sums(static_cast<std::size_t>(ow) * ch);
  for (int oy = 0; oy < oh; ++oy) {
    std::fill(sums.begin(), sums.end(), 0);
    for (int sy = yStart[oy]; sy < yStart[oy + 1]; ++sy) {
      const std::uint8_t* row = &image.Pixels[static_cast<std::size_t>(sy) * image.Width * ch];
      for (int ox = 0; ox < ow; ++ox)
        for (int sx = xStart[ox]; sx < xStart[ox + 1]; ++sx)
          for (int c = 0; c < ch; ++c) sums[ox * ch + c] += row[sx * ch + c];
    }
    const int rows = yStart[oy + 1] - yStart[oy];
    for (int ox = 0; ox < ow; ++ox) {
      const std::uint32_t area = static_cast<std::uint32_t>(rows * (xStart[ox + 1] - xStart[ox]));
      for (int c = 0; c < ch; ++c)
        out.Pixels[(static_cast<std::size_t>(oy) * ow + ox) * ch + c] =
            static_cast<std::uint8_t>((sums[ox * ch + c] + area / 2) / area);
    }
  }
  return out;
}

TBlockReducer::TBlockReducer(int width, int height, int channels, int factor)
    : FWidth(width), FHeight(height), FFactor(std::max(factor, 1)) {
  FOut = BlankImage((width + FFactor - 1) / FFactor, (height + FFactor - 1) / FFactor, channels);
  FSums.assign(static_cast<std::size_t>(FOut.Width) * channels, 0);
}

void TBlockReducer::AddRow(const std::uint8_t* row) {
  if (FRow >= FHeight) return;
  const int ch = FOut.Channels;
  for (int x = 0; x < FWidth; ++x)
    for (int c = 0; c < ch; ++c) FSums[(x / FFactor) * ch + c] += row[x * ch + c];
  ++FRow;
  if (FRow % FFactor == 0 || FRow == FHeight) FlushBand();
}

void TBlockReducer::FlushBand() {
  const int band = (FRow - 1) / FFactor;
  const int rows = FRow - band * FFactor;
  const int ch = FOut.Channels;
  for (int ox = 0; ox < FOut.Width; ++ox) {
    const int columns = std::min(FFactor, FWidth - ox * FFactor);
    const std::uint32_t area = static_cast<std::uint32_t>(rows * columns);
    for (int c = 0; c < ch; ++c)
      FOut.Pixels[(static_cast<std::size_t>(band) * FOut.Width + ox) * ch + c] =
          static_cast<std::uint8_t>((FSums[ox * ch + c] + area / 2) / area);
  }
  std::fill(FSums.begin(), FSums.end(), 0);
}

TImage TBlockReducer::Finish() { return std::move(FOut); }

int ReductionFactor(std::uint32_t longSide, int box) {
  return box > 0 ? std::max<int>(1, static_cast<int>(longSide / (2u * static_cast<std::uint32_t>(box)))) : 1;
}
