// JPEG decoding: any bytes give an RGB image within the limits, or EIdImageError; never a crash,
// an exit or a hang. The first byte picks the box, so that every scale of the decoder is reached.

#include "ImageFuzzCheck.h"
#include "publish/JpegDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int box = 8 << (data[0] % 8);
  const std::string_view file(reinterpret_cast<const char*>(data) + 1, size - 1);
  fuzz::CheckDecoder([&] { return DecodeJpeg(file, box); });
  return 0;
}
