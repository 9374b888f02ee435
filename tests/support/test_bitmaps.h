// Small images with known pixels for tests.
#pragma once

#include <cstdint>
#include <cstring>

#include "imaging/linear_bitmap.h"

namespace sq::test {

// Same size, format and pixels; the padding at the row ends does not count.
inline bool SamePixels(const TLinearBitmap& a, const TLinearBitmap& b) {
  if (a.Width != b.Width || a.Height != b.Height || a.PixelFormat != b.PixelFormat) return false;
  for (int y = 0; y < a.Height; ++y)
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), static_cast<size_t>(a.Width) * a.PixelSize) != 0) return false;
  return true;
}

// A 24-bit image whose every pixel differs from its neighbours: blue = x, green = y,
// red = x * y, all modulo 256.
inline TLinearBitmap GradientBitmap(int width, int height) {
  TLinearBitmap bitmap(width, height, pf24bit);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = uint8_t(x * 7 + y);
      row[3 * x + 1] = uint8_t(y * 5 + x);
      row[3 * x + 2] = uint8_t(x * y);
    }
  }
  return bitmap;
}

// An 8-bit grey image with added noise of a fixed pattern.
inline TLinearBitmap NoisyGrayBitmap(int width, int height) {
  TLinearBitmap bitmap(width, height, pf8bit);
  std::copy_n(GrayPalette(), 768, bitmap.Palette);
  uint32_t seed = 1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      seed = seed * 134775813u + 1;
      bitmap.ScanLine(y)[x] = uint8_t(100 + (x > width / 2 ? 60 : 0) + int(seed >> 28));
    }
  return bitmap;
}

}  // namespace sq::test
