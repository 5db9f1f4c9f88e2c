#include "publish/PngDecoder.h"

#include "http/net/IdException.h"
#include "publish/ImageHeader.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct TPngState {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  std::string_view Data;
  std::size_t Position = 0;
  int Box = 0;
  TImage Image;
  std::vector<png_bytep> Rows;
  std::vector<std::uint8_t> Row;
  std::unique_ptr<TBlockReducer> Reducer;
};

[[noreturn]] void EscapeOnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void Silent(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
  TPngState& state = *static_cast<TPngState*>(png_get_io_ptr(png));
  if (state.Data.size() - state.Position < count) png_error(png, "cut short");
  std::memcpy(out, state.Data.data() + state.Position, count);
  state.Position += count;
}

// Everything libpng touches after setjmp lives in state, so that a longjmp skips no destructor.
bool Decode(TPngState& state) {
  png_structp png = state.Png;
  png_infop info = state.Info;
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, &state, ReadFromMemory);
  png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
  // Only the picture's own chunks are read (header, palette, transparency, data). libpng takes
  // a text chunk's buffer at the length its header claims, before reading a byte of it: a file of
  // a few hundred bytes asked for 1.8 GB. Skipped chunks are read through without a buffer.
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  if (static_cast<std::uint64_t>(width) * height > kMaxImagePixels) return false;
  // Whatever the file holds becomes 8-bit RGBA.
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  const bool interlaced = png_set_interlace_handling(png) > 1;
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<std::size_t>(width) * 4) return false;
  const int factor = ReductionFactor(std::max(width, height), state.Box);
  if (!interlaced && factor > 1) {
    // Row by row into the reducer: the whole picture never lies in memory.
    // Flattened first, so that the colour of a transparent pixel never bleeds into the average.
    state.Reducer = std::make_unique<TBlockReducer>(static_cast<int>(width), static_cast<int>(height), 3, factor);
    state.Row.resize(static_cast<std::size_t>(width) * 4);
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, state.Row.data(), nullptr);
      FlattenPixelsOnWhite(state.Row.data(), state.Row.data(), width);
      state.Reducer->AddRow(state.Row.data());
    }
    state.Image = state.Reducer->Finish();
    return true;
  }
  // Interlaced or small: the whole picture is read at once, so it must fit the budget.
  if (!WithinDecodeBudget(state.Data.size(), static_cast<std::uint64_t>(width) * height * 4)) return false;
  state.Image = BlankImage(static_cast<int>(width), static_cast<int>(height), 4);
  state.Rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) state.Rows[y] = &state.Image.Pixels[static_cast<std::size_t>(y) * width * 4];
  png_read_image(png, state.Rows.data());
  return true;
}

}  // namespace

TImage DecodePng(std::string_view data, int box) {
  if (CheckedImageHeader(data).Format != TImageFormat::Png) throw EIdImageError("Not a PNG image");
  TPngState state;
  state.Data = data;
  state.Box = box;
  state.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, EscapeOnError, Silent);
  if (state.Png != nullptr) state.Info = png_create_info_struct(state.Png);
  const bool decoded = state.Info != nullptr && Decode(state);
  png_destroy_read_struct(&state.Png, &state.Info, nullptr);
  if (!decoded) throw EIdImageError("Damaged PNG image");
  return FlattenOnWhite(std::move(state.Image));
}
