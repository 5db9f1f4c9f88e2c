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

// The first frame, its descriptor just read: where it lies on the screen and its colours.
struct TFrame {
  const GifImageDesc& Desc;
  const ColorMapObject* Colours;
  int Transparent;
  std::vector<GifPixelType> Line;  // the colour indexes of its row read last
};

TFrame FirstFrame(GifFileType* gif, int transparent) {
  const GifImageDesc& desc = gif->Image;
  const ColorMapObject* colours = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
  if (colours == nullptr || desc.Width <= 0 || desc.Height <= 0 || OverLimits(desc.Width, desc.Height)) Damaged();
  return {desc, colours, transparent, std::vector<GifPixelType>(static_cast<std::size_t>(desc.Width))};
}

void ReadLine(GifFileType* gif, TFrame& frame) {
  if (DGifGetLine(gif, frame.Line.data(), frame.Desc.Width) == GIF_ERROR) Damaged();
}

// Paints the frame's row read last onto row, the screen row it falls on (width pixels).
void PaintLine(const TFrame& frame, std::uint8_t* row, int width) {
  for (int column = 0; column < frame.Desc.Width; ++column) {
    const int x = frame.Desc.Left + column;
    const int index = frame.Line[column];
    if (x < 0 || x >= width || index == frame.Transparent || index >= frame.Colours->ColorCount) continue;
    row[x * 3] = frame.Colours->Colors[index].Red;
    row[x * 3 + 1] = frame.Colours->Colors[index].Green;
    row[x * 3 + 2] = frame.Colours->Colors[index].Blue;
  }
}

// The whole white screen with the frame painted on it.
TImage PaintWhole(GifFileType* gif, TFrame& frame) {
  TImage canvas = BlankImage(gif->SWidth, gif->SHeight, 3);
  std::fill(canvas.Pixels.begin(), canvas.Pixels.end(), 0xFF);
  // An interlaced frame comes in four passes of rows: every 8th from 0, every 8th from 4,
  // every 4th from 2, every 2nd from 1.
  static const int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
  const int passes = frame.Desc.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int step = frame.Desc.Interlace ? kStep[pass] : 1;
    for (int row = frame.Desc.Interlace ? kStart[pass] : 0; row < frame.Desc.Height; row += step) {
      ReadLine(gif, frame);
      const int y = frame.Desc.Top + row;
      if (y >= 0 && y < canvas.Height)
        PaintLine(frame, &canvas.Pixels[static_cast<std::size_t>(y) * canvas.Width * 3], canvas.Width);
    }
  }
  return canvas;
}

// The screen reduced by factor as its rows come: only one row of it is ever held. The frame's
// rows must come in order, not interlaced.
TImage PaintReduced(GifFileType* gif, TFrame& frame, int factor) {
  TBlockReducer reducer(gif->SWidth, gif->SHeight, 3, factor);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(gif->SWidth) * 3);
  for (int y = 0; y < gif->SHeight; ++y) {
    std::fill(row.begin(), row.end(), 0xFF);
    if (y >= frame.Desc.Top && y - frame.Desc.Top < frame.Desc.Height) {
      ReadLine(gif, frame);
      PaintLine(frame, row.data(), gif->SWidth);
    }
    reducer.AddRow(row.data());
  }
  return reducer.Finish();
}

}  // namespace

TImage DecodeGif(std::string_view data, int box) {
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
      TFrame frame = FirstFrame(gif.get(), transparent);
      const int factor = ReductionFactor(static_cast<std::uint32_t>(std::max(gif->SWidth, gif->SHeight)), box);
      if (!frame.Desc.Interlace && factor > 1) return PaintReduced(gif.get(), frame, factor);
      if (!WithinDecodeBudget(data.size(), static_cast<std::uint64_t>(gif->SWidth) * gif->SHeight * 3))
        throw EIdImageError("Image too large");
      return PaintWhole(gif.get(), frame);
    }
  }
}
