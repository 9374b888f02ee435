#include "imaging/ops/filters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "base/exception.h"
#include "imaging/gray.h"
#include "imaging/ops/adaptive_smooth.h"
#include "imaging/palette.h"

namespace sq {
namespace {

TLinearBitmap Noise(int w, int h, TPixelFormat format, unsigned seed = 1) {
  TLinearBitmap b(w, h, format);
  if (format == pf8bit) std::memcpy(b.Palette, GrayPalette(), 768);
  std::mt19937 random(seed);
  for (int64_t i = 0; i < b.Size; ++i) b.Map[i] = static_cast<uint8_t>(random());
  return b;
}

bool SameBytes(const TLinearBitmap& a, const TLinearBitmap& b) {
  return a.Width == b.Width && a.Height == b.Height && a.PixelFormat == b.PixelFormat &&
         std::memcmp(a.Map, b.Map, size_t(a.Size)) == 0;
}

TEST(Gray, LibraryAndMenuRulesDifferOnlyInRounding) {
  TLinearBitmap pixel(2, 1, pf24bit);
  const uint8_t bgr[6] = {30, 20, 10, 3, 0, 0};  // (R, G, B) = (10, 20, 30) and (0, 0, 3)
  std::memcpy(pixel.Map, bgr, 6);
  TLinearBitmap menu(pixel), library(pixel);
  GrayscaleCommand(menu);
  ConvertToGrayscale(library);
  ASSERT_EQ(menu.PixelFormat, pf8bit);
  EXPECT_EQ(menu.Map[0], 18);     // (20 + 60 + 30) div 6
  EXPECT_EQ(library.Map[0], 18);  // (20 + 60 + 30 + 3) div 6
  EXPECT_EQ(menu.Map[1], 0);
  EXPECT_EQ(library.Map[1], 1);
  EXPECT_EQ(std::memcmp(menu.Palette, GrayPalette(), 768), 0);

  TLinearBitmap palette(2, 1, pf8bit);
  std::memset(palette.Palette, 0, 768);
  palette.Palette[3 * 7 + 2] = 255;  // entry 7 pure red: grey (510 + 3) div 6 = 85
  palette.Map[0] = 7, palette.Map[1] = 0;
  To24BitCommand(palette);
  EXPECT_EQ(palette.PixelFormat, pf24bit);
  EXPECT_EQ(palette.Map[2], 255);
  palette.SetPixelFormat(pf8bit);
  ConvertToGrayscale(palette);
  EXPECT_EQ(std::memcmp(palette.Palette, GrayPalette(), 768), 0);
}

TEST(Filters, SimpleOperationsFollowTheirRules) {
  const TLinearBitmap image = Noise(5, 4, pf24bit);
  TLinearBitmap mirrored(image);
  MirrorImage(mirrored);
  EXPECT_EQ(std::memcmp(mirrored.PixelAddress(4, 2), image.PixelAddress(0, 2), 3), 0);
  MirrorImage(mirrored);
  InvertImage(mirrored);
  EXPECT_EQ(mirrored.Map[7], 255 - image.Map[7]);

  // Convolution rounds halves to even, then adds the offset and clamps.
  TLinearBitmap grey(3, 3, pf8bit);
  grey.Clear(5);
  const int half[9] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
  TLinearBitmap out;
  Convolve3x3(grey, half, 2, &out, 0);
  EXPECT_EQ(out.Map[4], 2);  // 2.5
  grey.Map[4] = 7;
  Convolve3x3(grey, half, 2, &out, 300);
  EXPECT_EQ(out.Map[4], 255);
  EXPECT_EQ(out.Map[0], 5);  // the border keeps its value
  EXPECT_THROW(Convolve3x3(grey, half, 0), EZeroDivide);

  TLinearBitmap tiny = Noise(2, 2, pf8bit), tinyCopy(tiny);
  SmoothImage(tiny);
  EXPECT_TRUE(SameBytes(tiny, tinyCopy));
}

TEST(Filters, JPEGFilterBlendsCloseNeighboursAcrossBlockEdges) {
  TLinearBitmap narrow = Noise(8, 20, pf8bit), narrowCopy(narrow);
  for (int y = 8; y < 20; y += 8) std::memcpy(narrow.ScanLine(y), narrow.ScanLine(y - 1), 8);  // step 2 idle
  narrowCopy = narrow;
  JPEGFilter(narrow);
  EXPECT_TRUE(SameBytes(narrow, narrowCopy));

  TLinearBitmap row(16, 1, pf8bit);
  row.Clear(100);
  row.Map[7] = 110;  // close: pixel 8 becomes (110 + 100) >> 1
  JPEGFilter(row);
  EXPECT_EQ(row.Map[8], 105);
  row.Clear(100);
  row.Map[7] = 117;  // 17 apart: unchanged
  JPEGFilter(row);
  EXPECT_EQ(row.Map[8], 100);
}

TEST(Filters, DeinterlaceRebuildsEveryOtherRow) {
  TLinearBitmap image(1, 5, pf8bit);
  const uint8_t rows[5] = {0, 10, 50, 21, 90};
  std::memcpy(image.Map, rows, 5);
  TLinearBitmap even(image), odd(image), threshold(image);
  Deinterlace(even, false);
  const uint8_t evenRows[5] = {10, 10, 16, 21, 21};  // (10 + 21 + 1) >> 1 = 16
  EXPECT_EQ(std::memcmp(even.Map, evenRows, 5), 0);
  Deinterlace(odd, true);
  const uint8_t oddRows[5] = {0, 25, 50, 70, 90};
  EXPECT_EQ(std::memcmp(odd.Map, oddRows, 5), 0);
  Deinterlace(threshold, false, 30);  // row 2 differs from 16 by 34: rebuilt
  EXPECT_EQ(threshold.Map[2], 16);

  TLinearBitmap single = Noise(6, 1, pf24bit), singleCopy(single);
  Deinterlace(single, false);
  EXPECT_TRUE(SameBytes(single, singleCopy));
}

TEST(AdaptiveSmooth, WeightsFallWithTheGradient) {
  // A vertical edge: at strength 1 only the window's centre column keeps a positive
  // weight, so edge pixels become the mean of their column and stay sharp.
  TLinearBitmap edge(9, 9, pf8bit);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x) edge.ScanLine(y)[x] = static_cast<uint8_t>((x < 4 ? 20 : 200) + (y == 4 ? 9 : 0));
  TLinearBitmap smoothed(edge);
  AdaptiveSmooth(smoothed, 1, 3, false);
  EXPECT_EQ(smoothed.ScanLine(4)[3], 23);  // (20 + 29 + 20) div 3
  EXPECT_EQ(smoothed.ScanLine(4)[4], 203);
  EXPECT_EQ(smoothed.ScanLine(0)[3], 20);  // border
  // In a flat area a strong filter takes the plain mean.
  TLinearBitmap flat(5, 5, pf8bit);
  flat.Clear(40);
  flat.Map[12] = 49;
  AdaptiveSmooth(flat, 1000, 3, false);
  EXPECT_EQ(flat.Map[12], 41);
  EXPECT_THROW(AdaptiveSmooth(flat, 20, 4, false), Exception);
}

// Every filter on every format it takes: a constant image stays exactly constant.
TEST(Filters, ConstantImagesAreUnchanged) {
  for (TPixelFormat format : {pf8bit, pf24bit}) {
    for (uint8_t level : {0, 1, 128, 201, 255}) {
      TLinearBitmap flat(23, 19, format);
      if (format == pf8bit) std::memcpy(flat.Palette, GrayPalette(), 768);
      flat.Clear(level);
      if (format == pf24bit) flat.ClearColor(0x2080F0 + level);  // a colour, not a grey
      const TLinearBitmap original(flat);
      auto check = [&](const char* name, auto&& filter) {
        TLinearBitmap image(original);
        filter(image);
        EXPECT_TRUE(SameBytes(image, original)) << name << " " << int(level) << " " << format;
      };
      check("smooth", [](TLinearBitmap& b) { SmoothImage(b); });
      check("sharpen", [](TLinearBitmap& b) { SharpenImage(b, false); });
      check("sharpen luma", [](TLinearBitmap& b) { SharpenImage(b, true); });
      check("jpeg", [](TLinearBitmap& b) { JPEGFilter(b); });
      check("deinterlace", [](TLinearBitmap& b) { Deinterlace(b, true, 0); });
      for (int size : {3, 5, 7})
        for (bool twice : {false, true})
          check("adaptive", [&](TLinearBitmap& b) { AdaptiveSmooth(b, 20, size, twice); });
    }
  }
}

TEST(Palette, CountsAndReducesColours) {
  TLinearBitmap image(4, 1, pf24bit);
  const uint8_t bgr[12] = {0, 0, 0, 255, 255, 255, 0, 0, 0, 10, 200, 30};
  std::memcpy(image.Map, bgr, 12);
  EXPECT_EQ(CountColors(image), 3);
  TLinearBitmap own(image);
  ConvertToPalette(own);
  ASSERT_EQ(own.PixelFormat, pf8bit);
  const uint8_t indices[4] = {0, 1, 0, 2};  // first-seen order
  EXPECT_EQ(std::memcmp(own.Map, indices, 4), 0);
  EXPECT_EQ(CountColors(own), 3);

  // Onto the fixed 3-3-2 cube: (R, G, B) = (30, 200, 10) is nearest to entry
  // R 36 (1), G 182 (5), B 0 (0): index 1 << 5 | 5 << 2 | 0 = 52.
  TLinearBitmap cube(1, 1, pf24bit);
  cube.SetPixelFormat(pf8bit);
  std::vector<uint8_t> colours(cube.Palette, cube.Palette + 768);
  ConvertToPalette(image, colours.data());
  EXPECT_EQ(image.Map[3], 52);
  EXPECT_EQ(image.Map[1], 255);
}

}  // namespace
}  // namespace sq
