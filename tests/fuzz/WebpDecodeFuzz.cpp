// WebP decoding: any bytes give an RGB image within the limits, or EIdImageError; never a crash,
// an exit or a read outside the input.

#include "ImageFuzzCheck.h"
#include "publish/WebpDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  fuzz::CheckDecoder([&] { return DecodeWebp(file, 320); });
  return 0;
}
