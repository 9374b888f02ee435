#include "imaging/ops/filters.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/exception.h"
#include "imaging/ops/filters_rows.h"
#include "imaging/ops/tone_map_ycbcr.h"

namespace sq {

namespace {

// Channels of a filterable image: 3 for pf24bit, 1 for pf8bit.
int FilterChannels(const TLinearBitmap& bitmap) {
  if (bitmap.PixelFormat == pf24bit) return 3;
  if (bitmap.PixelFormat == pf8bit) return 1;
  throw ELinearBitmap("Unsupported pixel format");
}

}  // namespace

void MirrorImage(TLinearBitmap& bitmap) {
  if (!bitmap.Present) return;
  const int w = bitmap.Width;
  if (bitmap.PixelFormat == pf8bit) {
    for (int y = 0; y < bitmap.Height; ++y) std::reverse(bitmap.ScanLine(y), bitmap.ScanLine(y) + w);
  } else if (bitmap.PixelFormat == pf24bit) {
    for (int y = 0; y < bitmap.Height; ++y) {
      uint8_t* row = bitmap.ScanLine(y);
      for (int i = 0, j = w - 1; i < j; ++i, --j)
        for (int c = 0; c < 3; ++c) std::swap(row[3 * i + c], row[3 * j + c]);
    }
  }
}

void InvertImage(TLinearBitmap& bitmap) {
  if (!bitmap.Present) return;
  // A colour palette is inverted in place of the indices, which carry no colour
  // order: the picture becomes its negative and stays a palette image.  Grey
  // levels are their own indices and invert as they are.
  if (bitmap.PixelFormat == pf8bit && std::memcmp(bitmap.Palette, GrayPalette(), 768) != 0) {
    for (int i = 0; i < 768; ++i) bitmap.Palette[i] = static_cast<uint8_t>(255 - bitmap.Palette[i]);
    return;
  }
  const int length = bitmap.Width * bitmap.PixelSize;
  for (int y = 0; y < bitmap.Height; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int i = 0; i < length; ++i) row[i] = static_cast<uint8_t>(255 - row[i]);
  }
}

void Convolve3x3(TLinearBitmap& bitmap, const int (&kernel)[9], int divisor, TLinearBitmap* target, int offset) {
  if (!bitmap.Present) return;
  const int ch = FilterChannels(bitmap);
  if (divisor == 0) throw EZeroDivide();
  TLinearBitmap result(bitmap);
  const double scale = 1.0 / divisor;
  const int w = bitmap.Width, h = bitmap.Height;
  if (w >= 3 && h >= 3) {
    ForEachRow(h - 2, int64_t(w) * ch * 9, true, [&](int row, int) {
      const int y = row + 1;
      const uint8_t* up = bitmap.ScanLine(y - 1);
      const uint8_t* mid = bitmap.ScanLine(y);
      const uint8_t* down = bitmap.ScanLine(y + 1);
      uint8_t* out = result.ScanLine(y);
      for (int i = ch; i < (w - 1) * ch; ++i) {
        const int sum = kernel[0] * up[i - ch] + kernel[1] * up[i] + kernel[2] * up[i + ch] + kernel[3] * mid[i - ch] +
                        kernel[4] * mid[i] + kernel[5] * mid[i + ch] + kernel[6] * down[i - ch] + kernel[7] * down[i] +
                        kernel[8] * down[i + ch];
        out[i] = ClampToByte(RoundEvenInt(sum * scale) + offset);
      }
    });
  }
  if (target)
    target->TakeOver(result);
  else
    bitmap.TakeOver(result);
}

void SmoothImage(TLinearBitmap& bitmap) {
  static const int kernel[9] = {0, 1, 0, 1, 2, 1, 0, 1, 0};
  Convolve3x3(bitmap, kernel, 6);
}

void SharpenImage(TLinearBitmap& bitmap, bool lumaOnly) {
  static const int kernel[9] = {-1, -1, -1, -1, 16, -1, -1, -1, -1};
  if (lumaOnly && bitmap.Present && bitmap.PixelFormat == pf24bit) {
    TLinearBitmap y;
    ExtractLuminance(bitmap, y);
    const TLinearBitmap before(y);
    Convolve3x3(y, kernel, 8);
    ShiftLuminance(bitmap, before, y);
    return;
  }
  Convolve3x3(bitmap, kernel, 8);
}

void JPEGFilter(TLinearBitmap& bitmap) {
  if (!bitmap.Present) return;
  const int ch = FilterChannels(bitmap);
  const int w = bitmap.Width, h = bitmap.Height;
  TLinearBitmap result(bitmap);
  auto blend = [](int a, int b, uint8_t& out) {
    if (std::abs(a - b) < 17) out = static_cast<uint8_t>((a + b) >> 1);
  };
  // Vertical block boundaries, then horizontal ones (which win at the corners).
  for (int y = 0; y < h; ++y) {
    const uint8_t* in = bitmap.ScanLine(y);
    uint8_t* out = result.ScanLine(y);
    for (int x = 8; x < w; x += 8)
      for (int c = 0; c < ch; ++c) blend(in[(x - 1) * ch + c], in[x * ch + c], out[x * ch + c]);
  }
  for (int y = 8; y < h; y += 8) {
    const uint8_t* above = bitmap.ScanLine(y - 1);
    const uint8_t* in = bitmap.ScanLine(y);
    uint8_t* out = result.ScanLine(y);
    for (int i = 0; i < w * ch; ++i) blend(above[i], in[i], out[i]);
  }
  bitmap.TakeOver(result);
}

void Deinterlace(TLinearBitmap& bitmap, bool oddLines, int threshold) {
  if (!bitmap.Present || bitmap.Height < 2) return;
  FilterChannels(bitmap);
  const int h = bitmap.Height;
  const size_t length = size_t(bitmap.Width) * bitmap.PixelSize;
  // Rebuilt rows read only rows of the other parity, so the work can be in place.
  for (int y = oddLines ? 1 : 0; y < h; y += 2) {
    uint8_t* row = bitmap.ScanLine(y);
    if (y == 0) {
      std::memcpy(row, bitmap.ScanLine(1), length);
    } else if (y == h - 1) {
      std::memcpy(row, bitmap.ScanLine(y - 1), length);
    } else {
      const uint8_t* above = bitmap.ScanLine(y - 1);
      const uint8_t* below = bitmap.ScanLine(y + 1);
      for (size_t i = 0; i < length; ++i) {
        const int m = (above[i] + below[i] + 1) >> 1;
        if (threshold <= 0 || std::abs(m - row[i]) >= threshold) row[i] = static_cast<uint8_t>(m);
      }
    }
    ReportRowProgress(y, h);
  }
  ReportProgress(100);
}

}  // namespace sq
