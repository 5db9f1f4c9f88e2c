#include "publish/GifDecoder.h"

#include "http/net/IdException.h"
#include "publish/ImageHeader.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct TGifSource {
  std::string_view Data;
  std::size_t Position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int count) {
  auto& source = *static_cast<TGifSource*>(gif->UserData);
  const std::size_t n = std::min(static_cast<std::size_t>(std::max(count, 0)), source.Data.size() - source.Position);
  std::memcpy(out, source.Data.data() + source.Position, n);
  source.Position += n;
  return static_cast<int>(n);
}

struct TGifCloser {
  void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};
using TGifFile = std::unique_ptr<GifFileType, TGifCloser>;

[[noreturn]] void Damaged() { throw EIdImageError("Damaged GIF image"); }

bool OverLimits(std::uint64_t width, std::uint64_t height) {
  return width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels;
}

// Skips the extension blocks up to the frame, keeping the transparent index of a graphic control.
int ReadExtensions(GifFileType* gif, int transparent) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) Damaged();
  while (block != nullptr) {
    GraphicsControlBlock control;
    if (code == GRAPHICS_EXT_FUNC_CODE && block[0] == 4 && DGifExtensionToGCB(4, block + 1, &control) == GIF_OK)
      transparent = control.TransparentColor;
    code = 0;
    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) Damaged();
  }
  return transparent;
}

// Paints the frame whose descriptor was just read onto the white canvas.
void PaintFrame(GifFileType* gif, int transparent, TImage& canvas) {
  const GifImageDesc& frame = gif->Image;
  const ColorMapObject* colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
  if (colours == nullptr || frame.Width <= 0 || frame.Height <= 0 || OverLimits(frame.Width, frame.Height)) Damaged();
  std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
  // An interlaced frame comes in four passes of rows: every 8th from 0, every 8th from 4,
  // every 4th from 2, every 2nd from 1.
  static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
  const int passes = frame.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int step = frame.Interlace ? kStep[pass] : 1;
    for (int row = frame.Interlace ? kStart[pass] : 0; row < frame.Height; row += step) {
      if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) Damaged();
      const int y = frame.Top + row;
      if (y < 0 || y >= canvas.Height) continue;
      for (int column = 0; column < frame.Width; ++column) {
        const int x = frame.Left + column;
        const int index = line[column];
        if (x < 0 || x >= canvas.Width || index == transparent || index >= colours->ColorCount) continue;
        std::uint8_t* pixel = &canvas.Pixels[(static_cast<std::size_t>(y) * canvas.Width + x) * 3];
        pixel[0] = colours->Colors[index].Red;
        pixel[1] = colours->Colors[index].Green;
        pixel[2] = colours->Colors[index].Blue;
      }
    }
  }
}

}  // namespace

TImage DecodeGif(std::string_view data) {
  if (CheckedImageHeader(data).Format != TImageFormat::Gif) throw EIdImageError("Not a GIF image");
  TGifSource source{data, 0};
  TGifFile gif(DGifOpen(&source, ReadFromMemory, nullptr));
  if (!gif) Damaged();
  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR || record == TERMINATE_RECORD_TYPE) Damaged();
    if (record == EXTENSION_RECORD_TYPE) {
      transparent = ReadExtensions(gif.get(), transparent);
    } else if (record == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif.get()) == GIF_ERROR) Damaged();
      // The canvas is held whole: frames may be interlaced and placed anywhere on it.
      if (!WithinDecodeBudget(data.size(), static_cast<std::uint64_t>(gif->SWidth) * gif->SHeight * 3))
        throw EIdImageError("Image too large");
      TImage canvas = BlankImage(gif->SWidth, gif->SHeight, 3);
      std::fill(canvas.Pixels.begin(), canvas.Pixels.end(), 0xFF);
      PaintFrame(gif.get(), transparent, canvas);
      return canvas;
    }
  }
}
