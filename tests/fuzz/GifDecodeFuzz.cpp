// GIF decoding: any bytes give the first frame as an RGB image of the logical screen's size
// within the limits, or EIdImageError; never a crash or a write outside the canvas.

#include "ImageFuzzCheck.h"
#include "publish/GifDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  fuzz::CheckDecoder([&] { return DecodeGif(file); });
  return 0;
}
