#include "publish/JpegDecoder.h"

#include "http/net/IdException.h"
#include "publish/ImageHeader.h"

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <csetjmp>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <vector>

namespace {

// A damaged progressive file can announce scans without end; real ones have a few dozen.
constexpr int kMaxScans = 256;

struct TDecodeErrors {
  jpeg_error_mgr Manager;
  std::jmp_buf Escape;
};

[[noreturn]] void EscapeOnError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<TDecodeErrors*>(info->err)->Escape, 1);
}

// Warnings are silent, except the end of the data coming early: the rest would be invented grey.
void EscapeOnTruncation(j_common_ptr info, int level) {
  if (level == -1 && info->err->msg_code == JWRN_JPEG_EOF) EscapeOnError(info);
}

void LimitScans(j_common_ptr info) {
  if (!info->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxScans) EscapeOnError(info);
}

// Adobe writes CMYK inverted (0 is full ink), as every JPEG of that kind in practice is.
void CmykToRgb(TImage& image) {
  const std::size_t count = static_cast<std::size_t>(image.Width) * image.Height;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned k = image.Pixels[i * 4 + 3];
    for (int c = 0; c < 3; ++c)
      image.Pixels[i * 3 + c] = static_cast<std::uint8_t>((image.Pixels[i * 4 + c] * k + 127) / 255);
  }
  image.Pixels.resize(count * 3);
  image.Channels = 3;
}

struct TDecodeState {
  jpeg_decompress_struct Info;
  TDecodeErrors Errors;
  jpeg_progress_mgr Progress;
  TImage Image;
  std::vector<JSAMPROW> Rows;
};

// Everything between setjmp and the last libjpeg call lives in state, so that a longjmp skips
// no destructor.
bool Decode(TDecodeState& state, std::string_view data, int box, unsigned largestSide) {
  jpeg_decompress_struct& info = state.Info;
  info.err = jpeg_std_error(&state.Errors.Manager);
  state.Errors.Manager.error_exit = EscapeOnError;
  state.Errors.Manager.emit_message = EscapeOnTruncation;
  if (setjmp(state.Errors.Escape)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  // A progressive file is held whole as coefficients (2 bytes a sample) however small the output:
  // past the budget (never 0, which would mean none) the decoder fails, having no backing
  // store, instead of taking the memory.
  info.mem->max_memory_to_use = std::max(1L, static_cast<long>(kMaxDecodeBytes - data.size()));
  state.Progress.progress_monitor = LimitScans;
  info.progress = &state.Progress;
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&info, TRUE);
  // The frame libjpeg reads is the one checked, not only the first one the sniffing saw.
  if (info.image_width > kMaxImageSide || info.image_height > kMaxImageSide ||
      static_cast<std::uint64_t>(info.image_width) * info.image_height > kMaxImagePixels) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  info.scale_num = 1;
  info.scale_denom = 1;
  for (unsigned denom : {8u, 4u, 2u}) {
    if (largestSide >= static_cast<unsigned>(box) * denom) {
      info.scale_denom = denom;
      break;
    }
  }
  if (info.scale_denom > 1) {
    // What a scaled decode loses to the faster transform and plain upsampling is far below what
    // the area average takes away after it.
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
  }
  jpeg_start_decompress(&info);
  const int channels = info.output_components;
  state.Image = BlankImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), channels);
  state.Rows.resize(info.output_height);
  for (JDIMENSION y = 0; y < info.output_height; ++y)
    state.Rows[y] = &state.Image.Pixels[static_cast<std::size_t>(y) * info.output_width * channels];
  while (info.output_scanline < info.output_height)
    jpeg_read_scanlines(&info, &state.Rows[info.output_scanline], info.output_height - info.output_scanline);
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

TImage DecodeJpeg(std::string_view data, int box) {
  const TImageHeader header = CheckedImageHeader(data);
  if (header.Format != TImageFormat::Jpeg) throw EIdImageError("Not a JPEG image");
  if (!WithinDecodeBudget(data.size(), 0)) throw EIdImageError("Image too large");
  TDecodeState state{};
  if (!Decode(state, data, box, std::max(header.Width, header.Height))) throw EIdImageError("Damaged JPEG image");
  if (state.Image.Channels == 4) CmykToRgb(state.Image);
  return std::move(state.Image);
}
