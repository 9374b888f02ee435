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

// The positions are the plain loop's double operations four at a time (cvtpd2dq
// rounds halves to even like RoundEvenInt); the division toward zero is a shift of
// the value plus its sign bit.  Returns how many pixels it wrote.
template <int PixelSize>
__attribute__((target("avx2"))) int SampleRowAvx2(const TLinearBitmap& bitmap, const TRotationRow& row, uint8_t* out) {
  const __m256d sv = _mm256_set1_pd(row.sv), cv = _mm256_set1_pd(row.cv), scale = _mm256_set1_pd(row.scale);
  const __m256i minusOne = _mm256_set1_epi32(-1), zero = _mm256_setzero_si256();
  const __m256i halfW = _mm256_set1_epi32(bitmap.Width / 2), halfH = _mm256_set1_epi32(bitmap.Height / 2);
  const __m256i width = _mm256_set1_epi32(bitmap.Width), height = _mm256_set1_epi32(bitmap.Height);
  const __m256i stride = _mm256_set1_epi32(bitmap.BytesPerLine);
  // A 32-bit load may not start past this byte; later pixels are loaded from it and
  // shifted down.
  const __m256i lastWord = _mm256_set1_epi32(static_cast<int>(bitmap.Size - 4));
  const __m256i background = _mm256_set1_epi32(static_cast<int>(row.background));
  const int* map = reinterpret_cast<const int*>(bitmap.Map);
  // Stores of 16 bytes per half for 24-bit pixels reach 4 bytes past the 24 written.
  const int end = PixelSize == 3 ? row.count - 2 : row.count;
  int x = 0;
  for (; x + 8 <= end; x += 8) {
    const __m256i sx = _mm256_add_epi32(HalveTowardZero(RoundedPositions(row.cu + x, sv, true, scale)), halfW);
    const __m256i sy = _mm256_add_epi32(HalveTowardZero(RoundedPositions(row.su + x, cv, false, scale)), halfH);
    const __m256i inside =
        _mm256_and_si256(_mm256_and_si256(_mm256_cmpgt_epi32(sx, minusOne), _mm256_cmpgt_epi32(width, sx)),
                         _mm256_and_si256(_mm256_cmpgt_epi32(sy, minusOne), _mm256_cmpgt_epi32(height, sy)));
    const __m256i column = PixelSize == 3 ? _mm256_add_epi32(sx, _mm256_add_epi32(sx, sx)) : sx;
    __m256i offset = _mm256_add_epi32(_mm256_mullo_epi32(sy, stride), column);
    const __m256i over = _mm256_and_si256(_mm256_max_epi32(_mm256_sub_epi32(offset, lastWord), zero), inside);
    offset = _mm256_sub_epi32(offset, over);
    __m256i v = _mm256_mask_i32gather_epi32(background, map, offset, inside, 1);
    v = _mm256_srlv_epi32(v, _mm256_slli_epi32(over, 3));
    if constexpr (PixelSize == 3) {
      const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8,
                                            9, 10, 12, 13, 14, -1, -1, -1, -1);
      const __m256i packed = _mm256_shuffle_epi8(v, pack);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm256_castsi256_si128(packed));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x + 12), _mm256_extracti128_si256(packed, 1));
    } else {
      const __m256i pack = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8, 12,
                                            -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
      const __m256i packed =
          _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, pack), _mm256_setr_epi32(0, 4, 0, 0, 0, 0, 0, 0));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm256_castsi256_si128(packed));
    }
  }
  return x;
}
#endif

template <int PixelSize>
void SampleRow(const TLinearBitmap& bitmap, const TRotationRow& row, uint8_t* out, bool vectors) {
  int x = 0;
#ifdef __x86_64__
  if (vectors) x = SampleRowAvx2<PixelSize>(bitmap, row, out);
#else
  (void)vectors;
#endif
  const int w = bitmap.Width, h = bitmap.Height, halfW = w / 2, halfH = h / 2;
  uint8_t background[4];
  std::memcpy(background, &row.background, 4);
  for (out += x * PixelSize; x < row.count; ++x, out += PixelSize) {
    const int p = RoundEvenInt((row.cu[x] - row.sv) * row.scale);
    const int q = RoundEvenInt((row.su[x] + row.cv) * row.scale);
    const int sx = (p - 1) / 2 + halfW, sy = (q - 1) / 2 + halfH;
    const uint8_t* in =
        (unsigned(sx) < unsigned(w) && unsigned(sy) < unsigned(h)) ? bitmap.PixelAddress(sx, sy) : background;
    for (int k = 0; k < PixelSize; ++k) out[k] = in[k];
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
