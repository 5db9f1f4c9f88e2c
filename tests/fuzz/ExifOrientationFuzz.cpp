// EXIF orientation: any bytes, as a JPEG or as a bare TIFF block, give an orientation from 1 to
// 8 without reading outside the input; and turning an image by it keeps its pixels.

#include "FuzzCheck.h"
#include "publish/ExifOrientation.h"
#include "publish/ImageOps.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const int fromJpeg = JpegExifOrientation(bytes);
  const int fromTiff = TiffOrientation(bytes);
  FUZZ_CHECK(fromJpeg >= 1 && fromJpeg <= 8);
  FUZZ_CHECK(fromTiff >= 1 && fromTiff <= 8);
  // A 3 x 2 picture of distinct pixels turned: the same pixels, its sides swapped from 5 on.
  TImage image = BlankImage(3, 2, 3);
  for (std::size_t i = 0; i < image.Pixels.size(); ++i) image.Pixels[i] = static_cast<std::uint8_t>(i);
  const TImage turned = Orient(image, fromJpeg);
  FUZZ_CHECK(turned.Width == (fromJpeg >= 5 ? 2 : 3));
  std::uint32_t sum = 0, turnedSum = 0;
  for (std::size_t i = 0; i < image.Pixels.size(); ++i) sum += image.Pixels[i], turnedSum += turned.Pixels[i];
  FUZZ_CHECK(sum == turnedSum);
  return 0;
}
