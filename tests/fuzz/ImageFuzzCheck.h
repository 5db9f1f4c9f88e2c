#pragma once
// What every image decoder promises whatever its input: an RGB image of the size it states,
// within the limits, or EIdImageError, and nothing else.

#include "FuzzCheck.h"
#include "http/net/IdException.h"
#include "publish/ImageHeader.h"
#include "publish/ImageOps.h"

#include <cstdint>
#include <string_view>

namespace fuzz {

/// Runs decode on data; checks the image it returns, accepts EIdImageError and nothing else.
template <typename Decode>
void CheckDecoder(Decode decode) {
  try {
    const TImage image = decode();
    FUZZ_CHECK(image.Channels == 3);
    FUZZ_CHECK(image.Width > 0 && image.Height > 0);
    FUZZ_CHECK(static_cast<std::uint32_t>(image.Width) <= kMaxImageSide);
    FUZZ_CHECK(static_cast<std::uint32_t>(image.Height) <= kMaxImageSide);
    FUZZ_CHECK(image.Pixels.size() == static_cast<std::size_t>(image.Width) * image.Height * 3);
  } catch (const EIdImageError&) {
  }
}

}  // namespace fuzz
