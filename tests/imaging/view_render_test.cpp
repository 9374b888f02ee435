#include <gtest/gtest.h>

#include <vector>

#include "imaging/linear_bitmap.h"
#include "imaging/view_render.h"

namespace sq {
namespace {

// Pixel (x, y) of a 24-bit image holds blue x, green y, red 7.
TLinearBitmap Ramp(int width, int height) {
  TLinearBitmap image(width, height, pf24bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = image.PixelAddress(x, y);
      p[0] = static_cast<uint8_t>(x), p[1] = static_cast<uint8_t>(y), p[2] = 7;
    }
  return image;
}

uint32_t Rgb(int x, int y) { return 0xFF070000u | uint32_t(y) << 8 | uint32_t(x); }

std::vector<uint32_t> Render(const TLinearBitmap& image, int zoom, int sx, int sy, int w, int h) {
  std::vector<uint32_t> view(size_t(w) * h, 0x12345678u);
  RenderImage(image, zoom, sx, sy, view.data(), w, h, w);
  return view;
}

TEST(RenderImage, MagnifiesSubsamplesAndPatternsBeyondTheImage) {
  const TLinearBitmap image = Ramp(10, 8);
  // 3:1 scrolled by one whole image pixel: each pixel three times across and down.
  auto view = Render(image, 3, 3, 6, 12, 6);
  EXPECT_EQ(view[0], Rgb(1, 2));
  EXPECT_EQ(view[2], Rgb(1, 2));
  EXPECT_EQ(view[3], Rgb(2, 2));
  EXPECT_EQ(view[3 * 12 + 3], Rgb(2, 3));
  // 1:2 shows every second pixel; the 5 x 4 zoomed image ends at column 5 and row 4.
  view = Render(image, -2, 0, 0, 7, 5);
  EXPECT_EQ(view[1 * 7 + 2], Rgb(4, 2));
  EXPECT_EQ(view[4], Rgb(8, 0));
  EXPECT_EQ(view[5], 0xFF000000u);          // column 5, row 0: black
  EXPECT_EQ(view[1 * 7 + 5], 0xFF000080u);  // both counters odd: dark blue
  EXPECT_EQ(view[4 * 7 + 0], 0xFF000000u);  // below the image
}

TEST(RenderImage, AnyPartDrawsAsInTheWholeView) {
  const TLinearBitmap image = Ramp(40, 30);
  for (int zoom : {1, 4, -3}) {
    const auto whole = Render(image, zoom, 8, 4, 60, 50);
    const auto part = Render(image, zoom, 8 + 13, 4 + 7, 20, 30);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 20; ++x) ASSERT_EQ(part[size_t(y) * 20 + x], whole[size_t(y + 7) * 60 + x + 13]) << zoom;
  }
}

TEST(RenderImage, PaletteImagesGoThroughTheirPalette) {
  TLinearBitmap image(2, 1, pf8bit);
  image.Map[0] = 0, image.Map[1] = 1;
  image.Palette[0] = 1, image.Palette[1] = 2, image.Palette[2] = 3;
  image.Palette[3] = 200, image.Palette[4] = 100, image.Palette[5] = 50;
  const auto view = Render(image, 1, 0, 0, 2, 1);
  EXPECT_EQ(view[0], 0xFF030201u);
  EXPECT_EQ(view[1], 0xFF3264C8u);
}

}  // namespace
}  // namespace sq
