#include "imaging/gray.h"

#include <cstring>

#include "base/exception.h"
#include "base/parallel.h"

namespace sq {

namespace {

// A pf8bit image whose pixel is (2R + 3G + B + rounding) div 6 of each source pixel.
void GreyFromColour(TLinearBitmap& bitmap, int rounding) {
  TLinearBitmap result(bitmap.Width, bitmap.Height, pf8bit);
  std::memcpy(result.Palette, GrayPalette(), 768);
  const int step = bitmap.PixelSize;
  ForEachRow(bitmap.Height, bitmap.Width, true, [&](int y, int) {
    const uint8_t* in = bitmap.ScanLine(y);
    uint8_t* out = result.ScanLine(y);
    for (int x = 0; x < bitmap.Width; ++x, in += step)
      out[x] = static_cast<uint8_t>((2 * in[2] + 3 * in[1] + in[0] + rounding) / 6);
  });
  bitmap.TakeOver(result);
}

}  // namespace

void ConvertToGrayscale(TLinearBitmap& bitmap) {
  if (!bitmap.Present) return;
  switch (bitmap.PixelFormat) {
    case pf8bit: {
      uint8_t table[256];
      for (int i = 0; i < 256; ++i) {
        const uint8_t* entry = bitmap.Palette + 3 * i;
        table[i] = static_cast<uint8_t>((2 * entry[2] + 3 * entry[1] + entry[0] + 3) / 6);
      }
      for (int y = 0; y < bitmap.Height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width; ++x) row[x] = table[row[x]];
      }
      std::memcpy(bitmap.Palette, GrayPalette(), 768);
      break;
    }
    case pf16bit:
      bitmap.SetPixelFormat(pf8bit);
      break;
    case pf24bit:
    case pf32bit:
      GreyFromColour(bitmap, 3);
      break;
    default:
      throw ELinearBitmap("Unsupported pixel format");
  }
}

void GrayscaleCommand(TLinearBitmap& bitmap) {
  if (!bitmap.Present) return;
  if (bitmap.PixelFormat == pf24bit) {
    GreyFromColour(bitmap, 0);
  } else if (bitmap.PixelFormat == pf8bit) {
    if (!bitmap.IsGrayScale()) ConvertToGrayscale(bitmap);
  } else {
    ConvertToGrayscale(bitmap);
  }
}

void To24BitCommand(TLinearBitmap& bitmap) {
  if (bitmap.Present && bitmap.PixelFormat == pf8bit) bitmap.SetPixelFormat(pf24bit);
}

}  // namespace sq
