#pragma once
// A QR code of a text, as a square of dark and light modules. No Qt.

#include <string>
#include <vector>

/// The modules of one QR code, row by row; Size modules a side, without the quiet zone.
struct TQrCode {
  int Size = 0;
  std::vector<bool> Dark;  // Size * Size entries

  bool IsDark(int x, int y) const { return Dark[static_cast<std::size_t>(y) * Size + x]; }
};

/// The smallest QR code holding text as 8-bit bytes, with error correction level M (a
/// scratched or glossy screen still reads). Size 0 when text is empty or too long for any
/// code. Any thread.
TQrCode EncodeQrCode(const std::string& text);
