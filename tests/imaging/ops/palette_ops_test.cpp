// Palette images through Invert and the grey and 24-bit conversions: the picture
// changes as a person expects and the PNG transparency keeps marking the same
// pixels.
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/codecs/png_loader.h"
#include "imaging/gray.h"
#include "imaging/linear_bitmap.h"
#include "imaging/ops/filters.h"

using namespace sq;

namespace {

// Pixels 0, 1, 2, 3 in a row; entries 0..3 are red, green, blue and a dark red
// whose grey level equals entry 0's.
TLinearBitmap FourColours() {
  TLinearBitmap bitmap(4, 1, pf8bit);
  std::memset(bitmap.Palette, 0, 768);
  const uint8_t entries[4][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {0, 0, 254}};
  for (int i = 0; i < 4; ++i) {
    std::memcpy(bitmap.Palette + 3 * i, entries[i], 3);
    bitmap.ScanLine(0)[i] = static_cast<uint8_t>(i);
  }
  return bitmap;
}

}  // namespace

TEST(PaletteOps, InvertTurnsThePaletteNotTheIndices) {
  TLinearBitmap bitmap = FourColours();
  InvertImage(bitmap);
  EXPECT_EQ(bitmap.PixelFormat, pf8bit);
  EXPECT_EQ(bitmap.ScanLine(0)[1], 1);
  EXPECT_EQ(bitmap.Palette[3 * 1 + 1], 0);  // green became magenta
  EXPECT_EQ(bitmap.Palette[3 * 1 + 0], 255);
  EXPECT_EQ(bitmap.Palette[3 * 255], 255);  // unused black entries become white
  // Grey images keep their grey palette: the levels themselves invert.
  TLinearBitmap grey(2, 1, pf8bit);
  std::memcpy(grey.Palette, GrayPalette(), 768);
  grey.ScanLine(0)[0] = 10;
  InvertImage(grey);
  EXPECT_EQ(grey.ScanLine(0)[0], 245);
  EXPECT_EQ(std::memcmp(grey.Palette, GrayPalette(), 768), 0);
}

TEST(PaletteOps, TransparencyFollowsConversionsOrIsDropped) {
  const TLinearBitmap palette = FourColours();
  // To 24 bits: index 1 becomes the colour green, which no other pixel has.
  TLinearBitmap colour(palette);
  colour.SetPixelFormat(pf24bit);
  EXPECT_EQ(MapTransparentColor(palette, colour, 1), 255 << 8);
  // To grey: index 2 (blue) gets a grey level of its own ...
  TLinearBitmap grey(palette);
  GrayscaleCommand(grey);
  EXPECT_EQ(MapTransparentColor(palette, grey, 2), grey.ScanLine(0)[2]);
  // ... but red and dark red share one, so marking it would hide pixel 3 too.
  EXPECT_EQ(MapTransparentColor(palette, grey, 0), -1);
  // A value no pixel has is dropped; so is one across a change of size.
  EXPECT_EQ(MapTransparentColor(palette, grey, 9), -1);
  EXPECT_EQ(MapTransparentColor(palette, TLinearBitmap(2, 2, pf8bit), 1), -1);
}
