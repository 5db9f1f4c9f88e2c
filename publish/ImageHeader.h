#pragma once
// What an image file's first bytes say: its format and its size in pixels, read before anything
// is decoded, so that an image too large to decode is refused at no cost.

#include <cstdint>
#include <string_view>

enum class TImageFormat { None, Jpeg, Png, Webp, Gif };

struct TImageHeader {
  TImageFormat Format = TImageFormat::None;
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
};

/// The largest image decoded: pixels in all, and pixels on a side.
constexpr std::uint64_t kMaxImagePixels = 100'000'000;
constexpr std::uint32_t kMaxImageSide = 32'768;
/// What one decode may hold at once: the file's bytes and the decoder's own working memory
/// (a progressive JPEG's coefficients, a picture that cannot be read row by row). An image that
/// would need more is refused, so that the decodes under way bound the server's memory. A
/// 12-megapixel progressive JPEG with full-resolution colour (72 MB of coefficients) fits.
constexpr std::uint64_t kMaxDecodeBytes = 80 << 20;

/// Whether a decode holding the file's fileBytes and working bytes of its own stays within
/// kMaxDecodeBytes. Any thread.
constexpr bool WithinDecodeBudget(std::uint64_t fileBytes, std::uint64_t working) {
  return fileBytes <= kMaxDecodeBytes && working <= kMaxDecodeBytes - fileBytes;
}

/// The format and size that data (a whole file, or its start) announces. Format is None for
/// anything else, and Width and Height 0 when the size cannot be found in the bytes given.
/// Any thread.
TImageHeader ReadImageHeader(std::string_view data);

/// The header of data, checked: throws EIdImageError when data is no image of a known format,
/// announces no size, or is over kMaxImagePixels or kMaxImageSide. Any thread.
TImageHeader CheckedImageHeader(std::string_view data);
