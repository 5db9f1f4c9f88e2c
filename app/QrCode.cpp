#include "app/QrCode.h"

#include <qrencode.h>

#include <memory>

TQrCode EncodeQrCode(const std::string& text) {
  if (text.empty())
    return {};
  const std::unique_ptr<QRcode, void (*)(QRcode*)> code(
      QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M), &QRcode_free);
  if (!code)
    return {};
  TQrCode result;
  result.Size = code->width;
  result.Dark.resize(static_cast<std::size_t>(code->width) * code->width);
  // Bit 0 of each byte is the module's colour; the other bits say what the module is part of.
  for (std::size_t index = 0; index < result.Dark.size(); ++index)
    result.Dark[index] = (code->data[index] & 1) != 0;
  return result;
}
