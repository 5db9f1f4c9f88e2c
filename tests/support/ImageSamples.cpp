#include "support/ImageSamples.h"

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <gif_lib.h>
#include <png.h>
#include <webp/encode.h>

#include <algorithm>
#include <vector>

namespace samples {

TImage Quadrants(int width, int height) {
  TImage image = BlankImage(width, height, 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const TColour c = y < height / 2 ? (x < width / 2 ? kRed : kGreen) : (x < width / 2 ? kBlue : kYellow);
      std::uint8_t* p = &image.Pixels[(static_cast<std::size_t>(y) * width + x) * 3];
      p[0] = c.R, p[1] = c.G, p[2] = c.B;
    }
  return image;
}

TImage Plain(int width, int height, TColour colour, int alpha) {
  const int channels = alpha < 0 ? 3 : 4;
  TImage image = BlankImage(width, height, channels);
  for (std::size_t i = 0; i < image.Pixels.size(); i += channels) {
    image.Pixels[i] = colour.R, image.Pixels[i + 1] = colour.G, image.Pixels[i + 2] = colour.B;
    if (channels == 4) image.Pixels[i + 3] = static_cast<std::uint8_t>(alpha);
  }
  return image;
}

namespace {

std::string EncodeWith(const TImage& rgb, bool progressive, bool cmyk) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = rgb.Width;
  info.image_height = rgb.Height;
  info.input_components = cmyk ? 4 : 3;
  info.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  if (cmyk) info.write_Adobe_marker = TRUE;
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(rgb.Width) * 4);
  while (info.next_scanline < info.image_height) {
    const std::uint8_t* source = &rgb.Pixels[static_cast<std::size_t>(info.next_scanline) * rgb.Width * 3];
    if (cmyk) {
      // Inverted CMYK with no black: each ink byte is the remaining light of its primary.
      for (int x = 0; x < rgb.Width; ++x) {
        row[x * 4] = source[x * 3], row[x * 4 + 1] = source[x * 3 + 1], row[x * 4 + 2] = source[x * 3 + 2];
        row[x * 4 + 3] = 255;
      }
    } else {
      std::copy_n(source, rgb.Width * 3, row.begin());
    }
    JSAMPROW pointer = row.data();
    jpeg_write_scanlines(&info, &pointer, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string file(reinterpret_cast<char*>(out), size);
  std::free(out);
  return file;
}

void Append16(std::string& s, unsigned v, bool little) {
  if (little) s += static_cast<char>(v & 0xFF), s += static_cast<char>(v >> 8);
  else s += static_cast<char>(v >> 8), s += static_cast<char>(v & 0xFF);
}

void Append32(std::string& s, unsigned v, bool little) {
  if (little) Append16(s, v & 0xFFFF, true), Append16(s, v >> 16, true);
  else Append16(s, v >> 16, false), Append16(s, v & 0xFFFF, false);
}

void WritePng(png_structp png, png_bytep data, png_size_t count) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), count);
}

int WriteGif(GifFileType* gif, const GifByteType* data, int count) {
  static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), count);
  return count;
}

}  // namespace

std::string Jpeg(const TImage& rgb, bool progressive) { return EncodeWith(rgb, progressive, false); }
std::string CmykJpeg(const TImage& rgb) { return EncodeWith(rgb, false, true); }

std::string WithOrientation(const std::string& jpeg, int orientation, bool little) {
  std::string tiff = little ? "II" : "MM";
  Append16(tiff, 42, little);
  Append32(tiff, 8, little);
  Append16(tiff, 2, little);  // two entries: a resolution unit first, then the orientation
  Append16(tiff, 0x0128, little), Append16(tiff, 3, little), Append32(tiff, 1, little);
  Append16(tiff, 2, little), Append16(tiff, 0, little);
  Append16(tiff, 0x0112, little), Append16(tiff, 3, little), Append32(tiff, 1, little);
  Append16(tiff, static_cast<unsigned>(orientation), little), Append16(tiff, 0, little);
  Append32(tiff, 0, little);
  std::string segment("\xFF\xE1", 2);
  Append16(segment, static_cast<unsigned>(tiff.size() + 8), false);
  segment += std::string("Exif\0\0", 6) + tiff;
  return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

std::string Png(const TImage& image, const std::vector<std::pair<std::string, std::string>>& texts) {
  std::string file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &file, WritePng, nullptr);
  png_set_IHDR(png, info, image.Width, image.Height, 8, image.Channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_text> chunks;
  for (const auto& [key, text] : texts) {
    png_text chunk{};
    chunk.compression = PNG_TEXT_COMPRESSION_NONE;
    chunk.key = const_cast<char*>(key.c_str());
    chunk.text = const_cast<char*>(text.c_str());
    chunk.text_length = text.size();
    chunks.push_back(chunk);
  }
  if (!chunks.empty()) png_set_text(png, info, chunks.data(), static_cast<int>(chunks.size()));
  png_write_info(png, info);
  for (int y = 0; y < image.Height; ++y)
    png_write_row(png, &image.Pixels[static_cast<std::size_t>(y) * image.Width * image.Channels]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return file;
}

std::string PlainPng(int width, int height, TColour colour, bool interlaced) {
  std::string file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &file, WritePng, nullptr);
  // A palette of one colour at one bit a pixel: large pictures are made in little time.
  png_set_IHDR(png, info, width, height, 1, PNG_COLOR_TYPE_PALETTE, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color entry{colour.R, colour.G, colour.B};
  png_set_PLTE(png, info, &entry, 1);
  png_write_info(png, info);
  const std::vector<png_byte> row((width + 7) / 8, 0);
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < height; ++y) png_write_row(png, row.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return file;
}

std::string Webp(const TImage& image) {
  std::uint8_t* out = nullptr;
  const std::size_t size =
      image.Channels == 4
          ? WebPEncodeLosslessRGBA(image.Pixels.data(), image.Width, image.Height, image.Width * 4, &out)
          : WebPEncodeRGB(image.Pixels.data(), image.Width, image.Height, image.Width * 3, 90, &out);
  std::string file(reinterpret_cast<char*>(out), size);
  WebPFree(out);
  return file;
}

std::string Gif(const TImage& image, const TColour* transparent) {
  // A palette of the distinct colours of image (a few, in these tests).
  std::vector<GifColorType> colours;
  std::vector<GifPixelType> indexes;
  for (std::size_t i = 0; i < image.Pixels.size(); i += 3) {
    const GifColorType c{image.Pixels[i], image.Pixels[i + 1], image.Pixels[i + 2]};
    std::size_t k = 0;
    while (k < colours.size() && (colours[k].Red != c.Red || colours[k].Green != c.Green || colours[k].Blue != c.Blue)) ++k;
    if (k == colours.size()) colours.push_back(c);
    indexes.push_back(static_cast<GifPixelType>(k));
  }
  colours.resize(16, GifColorType{0, 0, 0});
  std::string file;
  int error = 0;
  GifFileType* gif = EGifOpen(&file, WriteGif, &error);
  ColorMapObject* map = GifMakeMapObject(16, colours.data());
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, image.Width, image.Height, 4, 0, map);
  if (transparent != nullptr) {
    int index = 0;
    while (colours[index].Red != transparent->R || colours[index].Green != transparent->G ||
           colours[index].Blue != transparent->B)
      ++index;
    GraphicsControlBlock control{0, false, 0, index};
    GifByteType block[4];
    EGifGCBToExtension(&control, block);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, block);
  }
  EGifPutImageDesc(gif, 0, 0, image.Width, image.Height, false, nullptr);
  for (int y = 0; y < image.Height; ++y) EGifPutLine(gif, &indexes[static_cast<std::size_t>(y) * image.Width], image.Width);
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return file;
}

std::string GifScreen(int width, int height, bool interlaced) {
  std::string file("GIF89a", 6);
  for (int side : {width, height}) file += {static_cast<char>(side & 0xFF), static_cast<char>(side >> 8)};
  // A global table of two colours (red, black); a 1 x 1 frame at 0,0 of colour 0.
  file += std::string("\x80\0\0\xFF\0\0\0\0\0", 9);
  file += std::string(",\0\0\0\0\x01\0\x01\0", 9) + (interlaced ? '\x40' : '\0');
  file += std::string("\x02\x02\x44\x01\0;", 6);
  return file;
}

TColour At(const TImage& image, int x, int y) {
  const std::uint8_t* p = &image.Pixels[(static_cast<std::size_t>(y) * image.Width + x) * image.Channels];
  return {p[0], p[1], p[2]};
}

bool Near(TColour a, TColour e, int tolerance) {
  return std::abs(a.R - e.R) <= tolerance && std::abs(a.G - e.G) <= tolerance && std::abs(a.B - e.B) <= tolerance;
}

}  // namespace samples
