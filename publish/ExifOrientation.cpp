#include "publish/ExifOrientation.h"

#include <cstdint>

namespace {

// Reads the TIFF's numbers in its own byte order; anything out of bounds reads as 0.
class TTiffReader {
public:
  TTiffReader(std::string_view data, bool little) : FData(data), FLittle(little) {}
  std::uint32_t U16(std::size_t at) const {
    if (at > FData.size() || FData.size() - at < 2) return 0;
    const std::uint32_t a = Byte(at), b = Byte(at + 1);
    return FLittle ? (b << 8) | a : (a << 8) | b;
  }
  std::uint32_t U32(std::size_t at) const {
    if (at > FData.size() || FData.size() - at < 4) return 0;
    const std::uint32_t a = U16(at), b = U16(at + 2);
    return FLittle ? (b << 16) | a : (a << 16) | b;
  }

private:
  std::uint32_t Byte(std::size_t at) const { return static_cast<unsigned char>(FData[at]); }
  std::string_view FData;
  bool FLittle;
};

constexpr std::uint32_t kOrientationTag = 0x0112;
constexpr std::uint32_t kShortType = 3;

}  // namespace

int TiffOrientation(std::string_view tiff) {
  if (tiff.size() < 8) return 1;
  const std::string_view order = tiff.substr(0, 2);
  if (order != "II" && order != "MM") return 1;
  const TTiffReader reader(tiff, order == "II");
  if (reader.U16(2) != 42) return 1;
  const std::size_t directory = reader.U32(4);
  const std::uint32_t entries = reader.U16(directory);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::size_t entry = directory + 2 + static_cast<std::size_t>(i) * 12;
    if (entry + 12 > tiff.size()) return 1;
    if (reader.U16(entry) != kOrientationTag) continue;
    if (reader.U16(entry + 2) != kShortType) return 1;
    const std::uint32_t value = reader.U16(entry + 8);
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
  }
  return 1;
}

int JpegExifOrientation(std::string_view jpeg) {
  if (jpeg.size() < 4 || static_cast<unsigned char>(jpeg[0]) != 0xFF || static_cast<unsigned char>(jpeg[1]) != 0xD8)
    return 1;
  std::size_t at = 2;
  // The EXIF segment comes among the first application segments, before the frame.
  while (at + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF) {
    const unsigned marker = static_cast<unsigned char>(jpeg[at + 1]);
    if (marker == 0xDA || marker == 0xD9) return 1;
    const std::size_t length = (static_cast<std::size_t>(static_cast<unsigned char>(jpeg[at + 2])) << 8) |
                               static_cast<unsigned char>(jpeg[at + 3]);
    if (length < 2) return 1;
    const std::string_view body = jpeg.substr(at + 4, length - 2);
    if (marker == 0xE1 && body.size() >= 6 && body.substr(0, 6) == std::string_view("Exif\0\0", 6))
      return TiffOrientation(body.substr(6));
    at += 2 + length;
  }
  return 1;
}
