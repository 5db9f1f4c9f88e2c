// Thumbnails from image bytes: every format, the eight orientations, the JPEG kinds, and the
// files that must be refused without a crash or a huge allocation.

#include "publish/Thumbnailer.h"

#include <gtest/gtest.h>

#include "http/net/IdException.h"
#include "publish/ExifOrientation.h"
#include "publish/GifDecoder.h"
#include "publish/ImageHeader.h"
#include "publish/JpegDecoder.h"
#include "publish/PngDecoder.h"
#include "publish/WebpDecoder.h"
#include "support/ImageSamples.h"

namespace {

using namespace samples;

// The thumbnail of file, decoded back to pixels.
TImage ThumbnailPixels(const std::string& file, int box = 320) { return DecodeJpeg(MakeThumbnail(file, box), 4096); }

// A PNG's signature and IHDR announcing width x height, then nothing.
std::string PngHeaderOnly(std::uint32_t width, std::uint32_t height) {
  std::string file("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16);
  for (std::uint32_t v : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8) file += static_cast<char>((v >> shift) & 0xFF);
  return file + std::string("\x08\x02\0\0\0\0\0\0\0", 9);
}

TEST(Thumbnailer, EachFormatIsFittedToItsBoxWithTheAspectKept) {
  const TImage picture = Quadrants(800, 400);
  for (const std::string& file : {Jpeg(picture), Png(picture), Webp(picture), Gif(picture)}) {
    const TImage small = ThumbnailPixels(file);
    EXPECT_EQ(small.Width, 320);
    EXPECT_EQ(small.Height, 160);
    EXPECT_TRUE(Near(At(small, 5, 5), kRed));
    EXPECT_TRUE(Near(At(small, 314, 154), kYellow));
    const TImage large = ThumbnailPixels(file, 640);
    EXPECT_EQ(large.Width, 640);
    EXPECT_EQ(large.Height, 320);
  }
  // Smaller than the box: kept at its size, never enlarged.
  EXPECT_EQ(ThumbnailPixels(Png(Quadrants(100, 50))).Width, 100);
}

TEST(Thumbnailer, TransparencyIsFlattenedOnWhite) {
  const TImage clear = ThumbnailPixels(Png(Plain(64, 64, kBlue, 0)));
  EXPECT_TRUE(Near(At(clear, 30, 30), {255, 255, 255}, 8));
  const TImage half = ThumbnailPixels(Webp(Plain(64, 64, {0, 0, 0}, 128)));
  EXPECT_TRUE(Near(At(half, 30, 30), {127, 127, 127}, 12));
  const TImage gifPicture = Quadrants(64, 64);
  const TImage gif = ThumbnailPixels(Gif(gifPicture, &kGreen));
  EXPECT_TRUE(Near(At(gif, 60, 2), {255, 255, 255}, 8));
  EXPECT_TRUE(Near(At(gif, 2, 2), kRed));
}

TEST(Thumbnailer, EveryExifOrientationComesOutUpright) {
  // The stored picture's corners: red at its first pixel, green at the end of its first row,
  // blue at the start of its last row. Where each appears when shown upright follows the
  // meaning of the tag's values (which side row 0 and column 0 are).
  struct TCase {
    int Orientation;
    const char* Red;
    const char* Green;
    const char* Blue;
  };
  const TCase cases[] = {{1, "TL", "TR", "BL"}, {2, "TR", "TL", "BR"}, {3, "BR", "BL", "TR"}, {4, "BL", "BR", "TL"},
                         {5, "TL", "BL", "TR"}, {6, "TR", "BR", "TL"}, {7, "BR", "TR", "BL"}, {8, "BL", "TL", "BR"}};
  const std::string stored = Jpeg(Quadrants(640, 320));
  for (const TCase& c : cases) {
    for (bool little : {true, false}) {
      SCOPED_TRACE(testing::Message() << "orientation " << c.Orientation << (little ? " II" : " MM"));
      const std::string file = WithOrientation(stored, c.Orientation, little);
      ASSERT_EQ(JpegExifOrientation(file), c.Orientation);
      const TImage image = ThumbnailPixels(file);
      const bool sideways = c.Orientation >= 5;
      EXPECT_EQ(image.Width, sideways ? 160 : 320);
      EXPECT_EQ(image.Height, sideways ? 320 : 160);
      const auto corner = [&](std::string_view name) {
        return At(image, name[1] == 'L' ? 3 : image.Width - 4, name[0] == 'T' ? 3 : image.Height - 4);
      };
      EXPECT_TRUE(Near(corner(c.Red), kRed));
      EXPECT_TRUE(Near(corner(c.Green), kGreen));
      EXPECT_TRUE(Near(corner(c.Blue), kBlue));
    }
  }
}

TEST(Thumbnailer, DamagedOrMissingOrientationCountsAsUpright) {
  const std::string plain = Jpeg(Quadrants(32, 32));
  EXPECT_EQ(JpegExifOrientation(plain), 1);
  EXPECT_EQ(JpegExifOrientation(WithOrientation(plain, 9)), 1);
  const std::string tagged = WithOrientation(plain, 6);
  // The block cut anywhere inside its directory reads as no orientation, never out of bounds.
  for (std::size_t cut = 0; cut < 40; ++cut) EXPECT_LE(TiffOrientation(tagged.substr(12, cut)), 8);
  EXPECT_EQ(TiffOrientation("II*\0\xFF\xFF\xFF\x7F"), 1);
}

TEST(Thumbnailer, ProgressiveGreyAndCmykJpegsDecode) {
  const TImage picture = Quadrants(480, 480);
  for (const std::string& file : {Jpeg(picture, true), CmykJpeg(picture)}) {
    const TImage image = ThumbnailPixels(file);
    EXPECT_EQ(image.Width, 320);
    EXPECT_TRUE(Near(At(image, 3, 3), kRed));
    EXPECT_TRUE(Near(At(image, 316, 3), kGreen));
    EXPECT_TRUE(Near(At(image, 3, 316), kBlue));
  }
}

TEST(Thumbnailer, LargeJpegsAreScaledByTheDecoder) {
  const std::string file = Jpeg(Quadrants(2600, 1300));
  EXPECT_EQ(DecodeJpeg(file, 320).Width, 325);   // 1/8
  EXPECT_EQ(DecodeJpeg(file, 640).Width, 650);   // 1/4
  EXPECT_EQ(DecodeJpeg(file, 2000).Width, 2600);  // whole
  // WebP scales while decoding, PNG and GIF average blocks row by row: all to about twice the box.
  EXPECT_EQ(DecodeWebp(Webp(Quadrants(2600, 1300)), 320).Width, 640);
  const TImage png = DecodePng(Png(Quadrants(2600, 1300)), 320);
  EXPECT_EQ(png.Width, 650);
  EXPECT_EQ(png.Height, 325);
  EXPECT_TRUE(Near(At(png, 0, 0), kRed, 0));
  EXPECT_TRUE(Near(At(png, 649, 324), kYellow, 0));
  const TImage gif = DecodeGif(Gif(Quadrants(1300, 650)), 320);
  EXPECT_EQ(gif.Width, 650);
  EXPECT_EQ(gif.Height, 325);
  EXPECT_TRUE(Near(At(gif, 0, 0), kRed, 0));
  EXPECT_TRUE(Near(At(gif, 649, 0), kGreen, 0));
  EXPECT_TRUE(Near(At(gif, 649, 324), kYellow, 0));
}

TEST(Thumbnailer, SizesAreReadFromTheHeaderAndLimitsRefuseBeforeDecoding) {
  EXPECT_EQ(ReadImageHeader(Jpeg(Quadrants(33, 17))).Width, 33u);
  EXPECT_EQ(ReadImageHeader(Png(Quadrants(33, 17))).Height, 17u);
  EXPECT_EQ(ReadImageHeader(Webp(Quadrants(33, 17))).Width, 33u);
  EXPECT_EQ(ReadImageHeader(Webp(Plain(33, 17, kRed, 10))).Height, 17u);
  EXPECT_EQ(ReadImageHeader(Gif(Quadrants(33, 17))).Width, 33u);
  // A decompression bomb announcing 100,000 x 100,000, and sides over the limit.
  EXPECT_THROW(MakeThumbnail(PngHeaderOnly(100'000, 100'000), 320), EIdImageError);
  EXPECT_THROW(CheckedImageHeader(PngHeaderOnly(40'000, 10)), EIdImageError);
  EXPECT_THROW(CheckedImageHeader(PngHeaderOnly(20'000, 20'000)), EIdImageError);
  EXPECT_NO_THROW(CheckedImageHeader(PngHeaderOnly(10'000, 10'000)));
}

TEST(Thumbnailer, WhatIsDecodedWholeMustFitTheDecodeBudget) {
  // 4,600 x 4,600 is 85 MB as RGBA. Read row by row it is reduced as it comes; interlaced it
  // would lie whole in memory, and is refused.
  const TImage rows = ThumbnailPixels(PlainPng(4600, 4600, kBlue, false));
  EXPECT_EQ(rows.Width, 320);
  EXPECT_TRUE(Near(At(rows, 160, 160), kBlue, 8));
  EXPECT_THROW(MakeThumbnail(PlainPng(4600, 4600, kBlue, true), 320), EIdImageError);
  EXPECT_TRUE(Near(At(ThumbnailPixels(PlainPng(1500, 1000, kBlue, true)), 100, 100), kBlue, 8));
  // A GIF's screen likewise (3 bytes a pixel, 90 MB here): row by row unless its frame is
  // interlaced.
  const TImage screen = ThumbnailPixels(GifScreen(6000, 5000));
  EXPECT_EQ(screen.Width, 320);
  EXPECT_TRUE(Near(At(screen, 300, 200), {255, 255, 255}, 8));
  EXPECT_THROW(MakeThumbnail(GifScreen(6000, 5000, true), 320), EIdImageError);
}

TEST(Thumbnailer, DamagedAndForeignFilesAreRefused) {
  const TImage picture = Quadrants(200, 200);
  for (const std::string& file : {Jpeg(picture), Jpeg(picture, true), Png(picture), Webp(picture), Gif(picture)}) {
    for (std::size_t keep : {file.size() / 2, file.size() * 3 / 4, std::size_t{20}}) {
      SCOPED_TRACE(testing::Message() << "cut to " << keep << " of " << file.size());
      EXPECT_THROW(MakeThumbnail(file.substr(0, keep), 320), EIdImageError);
    }
  }
  EXPECT_THROW(MakeThumbnail("This is plain text named photo.jpg\n", 320), EIdImageError);
  EXPECT_THROW(MakeThumbnail("", 320), EIdImageError);
}

TEST(ImageOps, AreaAverageKeepsEveryPixelsShare) {
  // Stripes one pixel wide, black and white: a point sampler would give one or the other.
  TImage stripes = Plain(1000, 10, {0, 0, 0});
  for (int x = 1; x < 1000; x += 2)
    for (int y = 0; y < 10; ++y) std::fill_n(&stripes.Pixels[(y * 1000 + x) * 3], 3, 255);
  const TImage small = FitWithin(stripes, 100);
  EXPECT_EQ(small.Width, 100);
  EXPECT_EQ(small.Height, 1);
  EXPECT_TRUE(Near(At(small, 50, 0), {128, 128, 128}, 2));
}

}  // namespace
