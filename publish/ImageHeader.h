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

/// The format and size that data (a whole file, or its start) announces. Format is None for
/// anything else, and Width and Height 0 when the size cannot be found in the bytes given.
/// Any thread.
TImageHeader ReadImageHeader(std::string_view data);

/// The header of data, checked: throws EIdImageError when data is no image of a known format,
/// announces no size, or is over kMaxImagePixels or kMaxImageSide. Any thread.
TImageHeader CheckedImageHeader(std::string_view data);
