#include "publish/DesktopThumbnails.h"

#include "platform/FileSystem.h"
#include "publish/ImageHeader.h"
#include "publish/Md5.h"

#include <algorithm>

namespace {

constexpr std::size_t kMaxThumbnailFile = 8 << 20;

std::uint32_t Big32(std::string_view d, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(d[at + i]);
  return value;
}

}  // namespace

std::string FileUri(const std::string& path) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (const unsigned char c : path) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~' || c == '/') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kDigits[c >> 4];
      uri += kDigits[c & 15];
    }
  }
  return uri;
}

std::string PngText(std::string_view png, std::string_view keyword) {
  // Chunks after the signature: length, type, data, CRC.
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::size_t length = Big32(png, at);
    if (length > png.size() - at - 12) break;
    const std::string_view type = png.substr(at + 4, 4);
    const std::string_view data = png.substr(at + 8, length);
    if (type == "tEXt" && data.size() > keyword.size() && data.starts_with(keyword) && data[keyword.size()] == '\0')
      return std::string(data.substr(keyword.size() + 1));
    if (type == "IEND") break;
    at += 12 + length;
  }
  return {};
}

std::optional<std::string> FindDesktopThumbnail(const std::string& folder, const std::string& path,
                                                std::time_t lastWrite, std::uint32_t longSide) {
  if (folder.empty()) return std::nullopt;
  const std::string uri = FileUri(path);
  const std::string name = Md5Hex(uri) + ".png";
  for (const char* size : {"normal/", "large/", "x-large/", "xx-large/"}) {
    std::string png;
    if (!platform::ReadTextFile(folder + size + name, png, kMaxThumbnailFile)) continue;
    const TImageHeader header = ReadImageHeader(png);
    if (header.Format != TImageFormat::Png || std::max(header.Width, header.Height) < longSide) continue;
    if (PngText(png, "Thumb::URI") != uri || PngText(png, "Thumb::MTime") != std::to_string(lastWrite)) continue;
    return png;
  }
  return std::nullopt;
}
