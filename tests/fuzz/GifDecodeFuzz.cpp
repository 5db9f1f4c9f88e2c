// GIF decoding: any bytes give the first frame as an RGB image of the logical screen's size
// (reduced for a box) within the limits, or EIdImageError; never a crash or a write outside the
// canvas. The file's length picks the box, none at times, so that the whole screen and the
// reduced one are both reached while the seeds stay plain GIF files.

#include "ImageFuzzCheck.h"
#include "publish/GifDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  const int box = size % 2 == 0 ? 0 : 1 << (size / 2 % 8);
  fuzz::CheckDecoder([&] { return DecodeGif(file, box); });
  return 0;
}
