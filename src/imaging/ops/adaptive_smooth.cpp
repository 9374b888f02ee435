#include "imaging/ops/adaptive_smooth.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/exception.h"
#include "imaging/ops/filters.h"
#include "imaging/ops/filters_rows.h"
#include "imaging/ops/resample.h"
#include "imaging/ops/tone_map_ycbcr.h"

namespace sq {

namespace {

// The core on one 8-bit plane.  The window sums are gathered per row from column
// aggregates: Q[b][x] = p(x, y - b) + p(x, y + b) (just p(x, y) for b = 0) holds every
// pixel at row distance b, so the weighted sum needs (r + 1)^2 terms per pixel
// instead of size^2, with the same integer result.
void SmoothPlane(TLinearBitmap& plane, int strength, int size) {
  const int r = size / 2;
  const int64_t n = int64_t(size) * r * (r + 1) / 2;
  const int w = plane.Width, h = plane.Height;
  if (w < size || h < size) return;
  const TLinearBitmap source(plane);
  const size_t stride = size_t(w);
  // Per worker: Q[0..r], column sums C, row-gradient sums E.
  std::vector<std::vector<int>> scratch(WorkerCount(), std::vector<int>(stride * (r + 3)));
  // |sum of dx * p| and |sum of dy * p| never pass 255 N: their rounded quotients by N
  // come from a table instead of a division per pixel.
  std::vector<int> gradient(size_t(255 * n + 1));
  for (int64_t i = 0; i <= 255 * n; ++i) gradient[size_t(i)] = static_cast<int>(DivRoundEven(i, n));
  const int rows = h - 2 * r;
  ForEachRow(rows, int64_t(w) * (r + 1) * (r + 1) * 3, true, [&](int row, int worker) {
    const int y = row + r;
    int* q = scratch[worker].data();
    int* c = q + stride * (r + 1);
    int* e = c + stride;
    const uint8_t* centre = source.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      q[x] = centre[x];
      c[x] = centre[x];
      e[x] = 0;
    }
    for (int b = 1; b <= r; ++b) {
      const uint8_t* above = source.ScanLine(y - b);
      const uint8_t* below = source.ScanLine(y + b);
      int* qb = q + stride * b;
      for (int x = 0; x < w; ++x) {
        qb[x] = above[x] + below[x];
        c[x] += qb[x];
        e[x] += b * (below[x] - above[x]);
      }
    }
    uint8_t* out = plane.ScanLine(y);
    int64_t sy = 0;  // running sum of e over the window's columns
    for (int x = 0; x < size - 1; ++x) sy += e[x];
    for (int x = r; x < w - r; ++x) {
      sy += e[x + r];
      int64_t sx = 0;
      for (int a = 1; a <= r; ++a) sx += int64_t(a) * (c[x + a] - c[x - a]);
      const int64_t gx = gradient[size_t(std::llabs(sx))], gy = gradient[size_t(std::llabs(sy))];
      sy -= e[x - r];
      int64_t weighted = 0, total = 0;
      for (int b = 0; b <= r; ++b) {
        const int* qb = q + stride * b;
        const int64_t rowWeight = strength - b * gy;
        if (rowWeight <= 0) break;
        const int rowCount = b == 0 ? 1 : 2;
        for (int a = 0; a <= r; ++a) {
          const int64_t weight = rowWeight - a * gx;
          if (weight <= 0) break;
          if (a == 0) {
            weighted += weight * qb[x];
            total += weight * rowCount;
          } else {
            weighted += weight * (qb[x - a] + qb[x + a]);
            total += weight * rowCount * 2;
          }
        }
      }
      // Both sums stay far below 2^53, where the double quotient truncates exactly.
      if (total > 0) out[x] = static_cast<uint8_t>(static_cast<int>(double(weighted) / double(total)));
    }
  });
}

// Doubles the plane, filters it, keeps the pixels that sit on the original ones and
// restores the edges the enlargement softened.
void SmoothPlaneDoubled(TLinearBitmap& plane, int strength, int size) {
  TLinearBitmap large;
  DoubleSize(plane, large);
  {
    TProgressRange range(0, 90);
    SmoothPlane(large, strength, size);
  }
  for (int y = 0; y < plane.Height; ++y) {
    const uint8_t* in = large.ScanLine(2 * y + 1);
    uint8_t* out = plane.ScanLine(y);
    for (int x = 0; x < plane.Width; ++x) out[x] = in[2 * x + 1];
  }
  const int c = std::max(40, 130 - strength);
  const int kernel[9] = {-2, -3, -2, -3, c, -3, -2, -3, -2};
  TProgressRange range(90, 100);
  Convolve3x3(plane, kernel, c - 20);
}

}  // namespace

void AdaptiveSmooth(TLinearBitmap& bitmap, const TNoiseReductionSettings& settings) {
  AdaptiveSmooth(bitmap, settings.Strength, 3 + 2 * settings.SizeIndex, settings.DoubleSize);
}

void AdaptiveSmooth(TLinearBitmap& bitmap, int strength, int size, bool doubleSize) {
  if (size != 3 && size != 5 && size != 7) throw Exception("Invalid filter size");
  if (!bitmap.Present) return;
  auto filter = [&](TLinearBitmap& plane) {
    if (doubleSize)
      SmoothPlaneDoubled(plane, strength, size);
    else
      SmoothPlane(plane, strength, size);
  };
  if (bitmap.PixelFormat == pf24bit) {
    TLinearBitmap y;
    ExtractLuminance(bitmap, y);
    const TLinearBitmap before(y);
    filter(y);
    ShiftLuminance(bitmap, before, y);
  } else if (bitmap.PixelFormat == pf8bit) {
    filter(bitmap);
  } else {
    throw ELinearBitmap("Unsupported pixel format");
  }
  ReportProgress(100);
}

}  // namespace sq
