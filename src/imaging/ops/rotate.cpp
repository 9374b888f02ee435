#include "imaging/ops/rotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <type_traits>
#include <vector>

#ifdef __x86_64__
#include <immintrin.h>
#endif

#include "base/exception.h"
#include "imaging/ops/filters_rows.h"
#include "imaging/ops/resample_rows.h"

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

// Where the free rotation samples: canvas pixel x of a row reads source pixel
// ((p - 1) div 2 + Width div 2, (q - 1) div 2 + Height div 2), p and q rounded from
// the precomputed products, or the background outside the source.
struct TRotationRow {
  const double* cu;
  const double* su;
  double sv, cv, scale;
  int count;
  uint32_t background;  // the background pixel's bytes, first byte lowest
};

#ifdef __x86_64__
__attribute__((target("avx2"))) inline __m256i RoundedPositions(const double* products, __m256d offset, bool subtract,
                                                                __m256d scale) {
  __m128i half[2];
  for (int i = 0; i < 2; ++i) {
    const __m256d value = _mm256_loadu_pd(products + 4 * i);
    half[i] = _mm256_cvtpd_epi32(
        _mm256_mul_pd(subtract ? _mm256_sub_pd(value, offset) : _mm256_add_pd(value, offset), scale));
  }
  return _mm256_inserti128_si256(_mm256_castsi128_si256(half[0]), half[1], 1);
}

// (p - 1) div 2, rounding toward zero.
__attribute__((target("avx2"))) inline __m256i HalveTowardZero(__m256i p) {
  const __m256i t = _mm256_sub_epi32(p, _mm256_set1_epi32(1));
  return _mm256_srai_epi32(_mm256_add_epi32(t, _mm256_srli_epi32(t, 31)), 1);
}

// Canvas pixels [from, to) of a row that all fall inside the source; returns where it
// stopped.  The positions are the plain loop's double operations four at a time
// (cvtpd2dq rounds halves to even like RoundEvenInt); the division toward zero is a
// shift of the value plus its sign bit.
template <int PixelSize>
__attribute__((target("avx2"))) int SampleRunAvx2(const TLinearBitmap& bitmap, const TRotationRow& row, int from,
                                                  int to, uint8_t* out) {
  const __m256d sv = _mm256_set1_pd(row.sv), cv = _mm256_set1_pd(row.cv), scale = _mm256_set1_pd(row.scale);
  const __m256i halfW = _mm256_set1_epi32(bitmap.Width / 2), halfH = _mm256_set1_epi32(bitmap.Height / 2);
  const __m256i stride = _mm256_set1_epi32(bitmap.BytesPerLine);
  // 24-bit pixels are copied as 32-bit words, each overwritten in its fourth byte by
  // the next; a word may not start past this byte.
  const int64_t lastWord = bitmap.Size - 4;
  const uint8_t* map = bitmap.Map;
  const int end = PixelSize == 3 ? std::min(to, row.count - 2) : to;
  alignas(32) int offsets[8];
  int x = from;
  for (; x + 8 <= end; x += 8) {
    const __m256i sx = _mm256_add_epi32(HalveTowardZero(RoundedPositions(row.cu + x, sv, true, scale)), halfW);
    const __m256i sy = _mm256_add_epi32(HalveTowardZero(RoundedPositions(row.su + x, cv, false, scale)), halfH);
    const __m256i column = PixelSize == 3 ? _mm256_add_epi32(sx, _mm256_add_epi32(sx, sx)) : sx;
    _mm256_store_si256(reinterpret_cast<__m256i*>(offsets), _mm256_add_epi32(_mm256_mullo_epi32(sy, stride), column));
    uint8_t* o = out + PixelSize * x;
    for (int i = 0; i < 8; ++i, o += PixelSize) {
      const uint8_t* in = map + offsets[i];
      if (PixelSize == 1)
        *o = *in;
      else if (offsets[i] <= lastWord)
        std::memcpy(o, in, 4);
      else
        std::memcpy(o, in, PixelSize);
    }
  }
  return x;
}
#endif

// The source column and row that canvas pixel x of the row reads.
int SourceX(const TLinearBitmap& bitmap, const TRotationRow& row, int x) {
  return (RoundEvenInt((row.cu[x] - row.sv) * row.scale) - 1) / 2 + bitmap.Width / 2;
}
int SourceY(const TLinearBitmap& bitmap, const TRotationRow& row, int x) {
  return (RoundEvenInt((row.su[x] + row.cv) * row.scale) - 1) / 2 + bitmap.Height / 2;
}

template <int PixelSize>
void SamplePlain(const TLinearBitmap& bitmap, const TRotationRow& row, int from, int to, uint8_t* out) {
  const int w = bitmap.Width, h = bitmap.Height;
  uint8_t background[4];
  std::memcpy(background, &row.background, 4);
  for (int x = from; x < to; ++x) {
    const int sx = SourceX(bitmap, row, x), sy = SourceY(bitmap, row, x);
    const uint8_t* in =
        (unsigned(sx) < unsigned(w) && unsigned(sy) < unsigned(h)) ? bitmap.PixelAddress(sx, sy) : background;
    for (int k = 0; k < PixelSize; ++k) out[x * PixelSize + k] = in[k];
  }
}

// The first x in [0, count) where a condition that turns from false to true along the
// row holds, count when it never does.
template <class Condition>
int FirstWhere(int count, Condition&& condition) {
  int low = 0, high = count;
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (condition(middle))
      high = middle;
    else
      low = middle + 1;
  }
  return low;
}

template <int PixelSize>
void SampleRow(const TLinearBitmap& bitmap, const TRotationRow& row, uint8_t* out, bool vectors) {
#ifdef __x86_64__
  if (vectors) {
    // Every step from x to the source column is monotone (products of a fixed factor,
    // a fixed offset, rounding, halving), and likewise to the source row, so the
    // pixels inside the source form one run: only it is sampled, the rest is
    // background.
    const int n = row.count, w = bitmap.Width, h = bitmap.Height;
    auto run = [&](auto source, bool rising, int limit, int& begin, int& end) {
      if (rising) {
        begin = FirstWhere(n, [&](int x) { return source(x) >= 0; });
        end = FirstWhere(n, [&](int x) { return source(x) >= limit; });
      } else {
        begin = FirstWhere(n, [&](int x) { return source(x) < limit; });
        end = FirstWhere(n, [&](int x) { return source(x) < 0; });
      }
    };
    int xBegin, xEnd, yBegin, yEnd;
    run([&](int x) { return SourceX(bitmap, row, x); }, row.cu[n - 1] >= row.cu[0], w, xBegin, xEnd);
    run([&](int x) { return SourceY(bitmap, row, x); }, row.su[n - 1] >= row.su[0], h, yBegin, yEnd);
    const int first = std::max(xBegin, yBegin);
    const int last = std::max(first, std::min(xEnd, yEnd));
    uint8_t background[PixelSize];
    std::memcpy(background, &row.background, PixelSize);
    for (int x = 0; x < first; ++x) std::memcpy(out + x * PixelSize, background, PixelSize);
    const int done = SampleRunAvx2<PixelSize>(bitmap, row, first, last, out);
    SamplePlain<PixelSize>(bitmap, row, done, last, out);
    for (int x = last; x < n; ++x) std::memcpy(out + x * PixelSize, background, PixelSize);
    return;
  }
#else
  (void)vectors;
#endif
  SamplePlain<PixelSize>(bitmap, row, 0, row.count, out);
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
  uint32_t backgroundPixel = 0;
  std::memcpy(&backgroundPixel, background, 4);
  // The vector positions are 32-bit integers and its loads 32-bit words.
  const bool vectors =
      ResampleVectorsEnabled() && bitmap.Size >= 4 && bitmap.Size < 0x7FFFFFF0 && cw < (1 << 28) && ch < (1 << 28);
  auto sampleRow = [&](int y, uint8_t* out) {
    const double v = 2.0 * (y - ch / 2) + f;
    // exact scale: f is 1 or 2
    const TRotationRow row{cu.data(), su.data(), s * v, c * v, 1.0 / f, usedW, backgroundPixel};
    if (ps == 1)
      SampleRow<1>(bitmap, row, out, vectors);
    else
      SampleRow<3>(bitmap, row, out, vectors);
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
      HalveRows(upper, lower, result.ScanLine(y), outW, ps, THalfRounding::HalfUp);
    });
  }
  bitmap.TakeOver(result);
}

}  // namespace sq
