#include "imaging/ops/rotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <type_traits>
#include <vector>

#include "base/exception.h"
#include "imaging/ops/filters_rows.h"

namespace sq {

namespace {

constexpr int kTile = 64;

// out(X, Y) = source(Y, H - 1 - X) when clockwise, source(W - 1 - Y, X) otherwise.
void QuarterTurn(TLinearBitmap& bitmap, bool clockwise) {
  if (!bitmap.Present) return;
  const int w = bitmap.Width, h = bitmap.Height, ps = bitmap.PixelSize;
  TLinearBitmap result(h, w, bitmap.PixelFormat);
  if (bitmap.PixelFormat == pf8bit) std::memcpy(result.Palette, bitmap.Palette, 768);
  const int bands = (w + kTile - 1) / kTile;  // bands of output rows
  ForEachRow(bands, int64_t(kTile) * h, false, [&](int band, int) {
    const int y0 = band * kTile, y1 = std::min(y0 + kTile, w);
    for (int x0 = 0; x0 < h; x0 += kTile) {
      const int x1 = std::min(x0 + kTile, h);
      for (int y = y0; y < y1; ++y) {
        uint8_t* out = result.PixelAddress(x0, y);
        if (clockwise) {
          for (int x = x0; x < x1; ++x, out += ps) {
            const uint8_t* in = bitmap.PixelAddress(y, h - 1 - x);
            if (ps == 1)
              *out = *in;
            else
              std::memcpy(out, in, ps);
          }
        } else {
          for (int x = x0; x < x1; ++x, out += ps) {
            const uint8_t* in = bitmap.PixelAddress(w - 1 - y, x);
            if (ps == 1)
              *out = *in;
            else
              std::memcpy(out, in, ps);
          }
        }
      }
    }
  });
  bitmap.TakeOver(result);
}

void ReversePixels(uint8_t* row, int count, int ps) {
  if (ps == 1) {
    std::reverse(row, row + count);
    return;
  }
  uint8_t swap[8];
  for (int i = 0, j = count - 1; i < j; ++i, --j) {
    std::memcpy(swap, row + i * ps, ps);
    std::memcpy(row + i * ps, row + j * ps, ps);
    std::memcpy(row + j * ps, swap, ps);
  }
}

}  // namespace

void Rotate90(TLinearBitmap& bitmap) { QuarterTurn(bitmap, false); }
void Rotate270(TLinearBitmap& bitmap) { QuarterTurn(bitmap, true); }

void Rotate180(TLinearBitmap& bitmap) {
  if (!bitmap.Present) return;
  const int w = bitmap.Width, h = bitmap.Height, ps = bitmap.PixelSize;
  const size_t length = size_t(w) * ps;
  std::vector<uint8_t> swap(length);
  for (int y = 0, z = h - 1; y <= z; ++y, --z) {
    ReversePixels(bitmap.ScanLine(y), w, ps);
    if (y == z) break;
    ReversePixels(bitmap.ScanLine(z), w, ps);
    std::memcpy(swap.data(), bitmap.ScanLine(y), length);
    std::memcpy(bitmap.ScanLine(y), bitmap.ScanLine(z), length);
    std::memcpy(bitmap.ScanLine(z), swap.data(), length);
  }
}

void Rotate(TLinearBitmap& bitmap, uint32_t backgroundColor, double angle) {
  if (!bitmap.Present) return;
  if (!std::isfinite(angle)) throw EInvalidOp();
  constexpr double pi = std::numbers::pi;
  const double twoPi = 2 * pi;
  double a = angle - twoPi * std::trunc(angle / twoPi);
  if (a < 0) a += twoPi;
  if (std::abs(a - pi) < 0.0001) return Rotate180(bitmap);
  if (std::abs(a - 3 * pi / 2) < 0.0001) return Rotate270(bitmap);
  if (std::abs(a - pi / 2) < 0.0001) return Rotate90(bitmap);
  if (std::abs(a) <= 0.0001 || std::abs(a - twoPi) <= 0.0001) return;
  if (bitmap.PixelFormat != pf8bit && bitmap.PixelFormat != pf24bit) throw ELinearBitmap("Unsupported pixel format");

  // Sampling factor: twice per axis where pixels can be averaged.
  const int f = (bitmap.PixelFormat == pf24bit || bitmap.IsGrayScale()) ? 2 : 1;
  const int w = bitmap.Width, h = bitmap.Height, ps = bitmap.PixelSize;
  const double c = std::cos(a), s = std::sin(a);

  // Canvas: the rotated corners, in units of 1 / f pixel.
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  int64_t canvasW = 0, canvasH = 0;
  for (const double x : {0.0, double(w - 1)})
    for (const double y : {0.0, double(h - 1)}) {
      canvasW = std::max(canvasW, std::abs(static_cast<int64_t>(RoundEven(2 * f * (c * (x - cx) - s * (y - cy))))));
      canvasH = std::max(canvasH, std::abs(static_cast<int64_t>(RoundEven(2 * f * (s * (x - cx) + c * (y - cy))))));
    }
  // A one-pixel image still needs one result pixel.
  canvasW = std::max<int64_t>(canvasW, f);
  canvasH = std::max<int64_t>(canvasH, f);
  if (canvasW > 0x7FFFFFFF || canvasH > 0x7FFFFFFF) throw ELinearBitmap("Invalid bitmap size");

  TLinearBitmap probe(1, 1, bitmap.PixelFormat);
  probe.ClearColor(backgroundColor);
  uint8_t background[4] = {};
  std::memcpy(background, probe.Map, ps);

  const int cw = static_cast<int>(canvasW), ch = static_cast<int>(canvasH);
  const int outW = cw / f, outH = ch / f;
  TLinearBitmap result(outW, outH, bitmap.PixelFormat);
  if (bitmap.PixelFormat == pf8bit) std::memcpy(result.Palette, bitmap.Palette, 768);

  // Positions in half pixels from the canvas centre; the products per column are
  // kept so each canvas pixel costs two subtractions.
  const int usedW = outW * f;
  std::vector<double> cu(usedW), su(usedW);
  for (int x = 0; x < usedW; ++x) {
    const double u = 2.0 * (x - cw / 2) + f;
    cu[x] = c * u;
    su[x] = s * u;
  }
  const double scale = 1.0 / f;  // exact: f is 1 or 2
  const int halfW = w / 2, halfH = h / 2;
  auto sampleRow = [&](int y, uint8_t* out) {
    const double v = 2.0 * (y - ch / 2) + f;
    const double sv = s * v, cv = c * v;
    auto run = [&](auto pixelSize) {
      constexpr int ps = decltype(pixelSize)::value;
      for (int x = 0; x < usedW; ++x, out += ps) {
        const int p = RoundEvenInt((cu[x] - sv) * scale);
        const int q = RoundEvenInt((su[x] + cv) * scale);
        const int sx = (p - 1) / 2 + halfW, sy = (q - 1) / 2 + halfH;
        const uint8_t* in =
            (unsigned(sx) < unsigned(w) && unsigned(sy) < unsigned(h)) ? bitmap.PixelAddress(sx, sy) : background;
        for (int k = 0; k < ps; ++k) out[k] = in[k];
      }
    };
    if (ps == 1)
      run(std::integral_constant<int, 1>());
    else
      run(std::integral_constant<int, 3>());
  };
  if (f == 1) {
    ForEachRow(outH, usedW, true, [&](int y, int) { sampleRow(y, result.ScanLine(y)); });
  } else {
    // Two canvas rows at a time, halved at once: the full canvas is never stored.
    const size_t length = size_t(usedW) * ps;
    std::vector<std::vector<uint8_t>> scratch(WorkerCount(), std::vector<uint8_t>(2 * length));
    ForEachRow(outH, 4 * int64_t(usedW), true, [&](int y, int worker) {
      uint8_t* upper = scratch[worker].data();
      uint8_t* lower = upper + length;
      sampleRow(2 * y, upper);
      sampleRow(2 * y + 1, lower);
      uint8_t* out = result.ScanLine(y);
      for (int x = 0; x < outW; ++x, upper += 2 * ps, lower += 2 * ps, out += ps)
        for (int k = 0; k < ps; ++k)
          out[k] = static_cast<uint8_t>((upper[k] + upper[k + ps] + lower[k] + lower[k + ps] + 2) >> 2);
    });
  }
  bitmap.TakeOver(result);
}

}  // namespace sq
