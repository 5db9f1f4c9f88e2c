#include "publish/JpegEncoder.h"

#include "http/net/IdException.h"

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <csetjmp>
#include <cstdlib>
#include <jpeglib.h>
// clang-format on

namespace {

struct TEncodeState {
  jpeg_compress_struct Info;
  jpeg_error_mgr Errors;
  std::jmp_buf Escape;
  unsigned char* Output = nullptr;  // malloc'ed by jpeg_mem_dest
  unsigned long OutputSize = 0;
};

[[noreturn]] void EscapeOnError(j_common_ptr info) {
  std::longjmp(static_cast<TEncodeState*>(info->client_data)->Escape, 1);
}

void Silent(j_common_ptr, int) {}

bool Encode(TEncodeState& state, const TImage& image, int quality) {
  jpeg_compress_struct& info = state.Info;
  info.err = jpeg_std_error(&state.Errors);
  state.Errors.error_exit = EscapeOnError;
  state.Errors.emit_message = Silent;
  info.client_data = &state;
  if (setjmp(state.Escape)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  info.client_data = &state;
  jpeg_mem_dest(&info, &state.Output, &state.OutputSize);
  info.image_width = static_cast<JDIMENSION>(image.Width);
  info.image_height = static_cast<JDIMENSION>(image.Height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&image.Pixels[static_cast<std::size_t>(info.next_scanline) * image.Width * 3]);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

}  // namespace

std::string EncodeJpeg(const TImage& image, int quality) {
  TEncodeState state{};
  const bool done = image.Channels == 3 && image.Width > 0 && image.Height > 0 && Encode(state, image, quality);
  std::string file;
  if (done) file.assign(reinterpret_cast<const char*>(state.Output), state.OutputSize);
  std::free(state.Output);
  if (!done) throw EIdImageError("JPEG encoding failed");
  return file;
}
