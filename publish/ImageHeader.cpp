#include "publish/ImageHeader.h"

#include "http/net/IdException.h"

namespace {

std::uint32_t Big16(std::string_view d, std::size_t at) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(d[at])) << 8) | static_cast<unsigned char>(d[at + 1]);
}

std::uint32_t Big32(std::string_view d, std::size_t at) { return (Big16(d, at) << 16) | Big16(d, at + 2); }

std::uint32_t Little16(std::string_view d, std::size_t at) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(d[at + 1])) << 8) | static_cast<unsigned char>(d[at]);
}

std::uint32_t Little24(std::string_view d, std::size_t at) {
  return Little16(d, at) | (static_cast<std::uint32_t>(static_cast<unsigned char>(d[at + 2])) << 16);
}

// The frame header (any SOFn but the DHT, JPG and DAC markers that share the range) gives the size.
void ReadJpegSize(std::string_view d, TImageHeader& header) {
  std::size_t at = 2;
  while (at + 4 <= d.size()) {
    if (static_cast<unsigned char>(d[at]) != 0xFF) return;
    const unsigned marker = static_cast<unsigned char>(d[at + 1]);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    if (marker == 0xD9 || marker == 0xDA) return;  // no frame before the image data
    const std::size_t length = Big16(d, at + 2);
    if (length < 2) return;
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (at + 9 > d.size()) return;
      header.Height = Big16(d, at + 5);
      header.Width = Big16(d, at + 7);
      return;
    }
    at += 2 + length;
  }
}

void ReadWebpSize(std::string_view d, TImageHeader& header) {
  const std::string_view chunk = d.substr(12, 4);
  if (chunk == "VP8 " && d.size() >= 30) {
    header.Width = Little16(d, 26) & 0x3FFF;
    header.Height = Little16(d, 28) & 0x3FFF;
  } else if (chunk == "VP8L" && d.size() >= 25) {
    const std::uint32_t bits = Little16(d, 21) | (Little16(d, 23) << 16);
    header.Width = (bits & 0x3FFF) + 1;
    header.Height = ((bits >> 14) & 0x3FFF) + 1;
  } else if (chunk == "VP8X" && d.size() >= 30) {
    header.Width = Little24(d, 24) + 1;
    header.Height = Little24(d, 27) + 1;
  }
}

}  // namespace

TImageHeader ReadImageHeader(std::string_view d) {
  TImageHeader header;
  if (d.size() >= 3 && d.substr(0, 3) == "\xFF\xD8\xFF") {
    header.Format = TImageFormat::Jpeg;
    ReadJpegSize(d, header);
  } else if (d.size() >= 8 && d.substr(0, 8) == std::string_view("\x89PNG\r\n\x1A\n", 8)) {
    header.Format = TImageFormat::Png;
    if (d.size() >= 24 && d.substr(12, 4) == "IHDR") {
      header.Width = Big32(d, 16);
      header.Height = Big32(d, 20);
    }
  } else if (d.size() >= 16 && d.substr(0, 4) == "RIFF" && d.substr(8, 4) == "WEBP") {
    header.Format = TImageFormat::Webp;
    ReadWebpSize(d, header);
  } else if (d.size() >= 6 && (d.substr(0, 6) == "GIF87a" || d.substr(0, 6) == "GIF89a")) {
    header.Format = TImageFormat::Gif;
    if (d.size() >= 10) {
      header.Width = Little16(d, 6);
      header.Height = Little16(d, 8);
    }
  }
  return header;
}

TImageHeader CheckedImageHeader(std::string_view data) {
  const TImageHeader header = ReadImageHeader(data);
  if (header.Format == TImageFormat::None) throw EIdImageError("Not an image");
  if (header.Width == 0 || header.Height == 0) throw EIdImageError("No image size");
  if (header.Width > kMaxImageSide || header.Height > kMaxImageSide ||
      static_cast<std::uint64_t>(header.Width) * header.Height > kMaxImagePixels)
    throw EIdImageError("Image too large");
  return header;
}
