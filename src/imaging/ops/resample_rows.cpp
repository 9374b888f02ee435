#include "imaging/ops/resample_rows.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#ifdef __x86_64__
#include <immintrin.h>
#endif

#include "base/cpu_features.h"
#include "imaging/ops/filters_rows.h"

namespace sq {

namespace {

std::atomic<bool> vectorsSwitchedOff{false};

template <int PixelSize, bool Even>
void HalveRowsPlain(const uint8_t* a, const uint8_t* b, uint8_t* out, int outWidth) {
  for (int x = 0; x < outWidth; ++x, a += 2 * PixelSize, b += 2 * PixelSize, out += PixelSize)
    for (int c = 0; c < PixelSize; ++c) {
      const int s = a[c] + a[c + PixelSize] + b[c] + b[c + PixelSize];
      out[c] = static_cast<uint8_t>(Even ? (s + 1 + ((s >> 2) & 1)) >> 2 : (s + 2) >> 2);
    }
}

void HalveRowsPlain(const uint8_t* a, const uint8_t* b, uint8_t* out, int outWidth, int pixelSize, bool even) {
  const int step = 2 * pixelSize;
  for (int x = 0; x < outWidth; ++x, a += step, b += step, out += pixelSize)
    for (int c = 0; c < pixelSize; ++c) {
      const int s = a[c] + a[c + pixelSize] + b[c] + b[c + pixelSize];
      out[c] = static_cast<uint8_t>(even ? (s + 1 + ((s >> 2) & 1)) >> 2 : (s + 2) >> 2);
    }
}

#ifdef __x86_64__

template <bool Even>
__attribute__((target("avx2"))) inline __m128i RoundQuarter(__m128i s) {
  const __m128i one = _mm_set1_epi16(1);
  if constexpr (Even)
    return _mm_srli_epi16(_mm_add_epi16(s, _mm_add_epi16(one, _mm_and_si128(_mm_srli_epi16(s, 2), one))), 2);
  return _mm_srli_epi16(_mm_add_epi16(s, _mm_set1_epi16(2)), 2);
}

template <bool Even>
__attribute__((target("avx2"))) inline __m256i RoundQuarter(__m256i s) {
  const __m256i one = _mm256_set1_epi16(1);
  if constexpr (Even)
    return _mm256_srli_epi16(_mm256_add_epi16(s, _mm256_add_epi16(one, _mm256_and_si256(_mm256_srli_epi16(s, 2), one))),
                             2);
  return _mm256_srli_epi16(_mm256_add_epi16(s, _mm256_set1_epi16(2)), 2);
}

// Grey: pairs of neighbours are summed by one multiply-add against ones.
template <bool Even>
__attribute__((target("avx2"))) int HalveRowsAvx2Grey(const uint8_t* a, const uint8_t* b, uint8_t* out, int outWidth) {
  const __m256i ones = _mm256_set1_epi8(1);
  int x = 0;
  for (; x + 16 <= outWidth; x += 16) {
    const __m256i pa = _mm256_maddubs_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 2 * x)), ones);
    const __m256i pb = _mm256_maddubs_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 2 * x)), ones);
    const __m256i r = RoundQuarter<Even>(_mm256_add_epi16(pa, pb));
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(r, r), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm256_castsi256_si128(packed));
  }
  return x;
}

// Shuffle masks that keep elements 6i + c (c < 3) of 48 sums, i.e. the sums that
// start at an even pixel, from the three packed registers into 24 bytes.
struct TRgbHalfMasks {
  alignas(16) int8_t low0[16], low1[16], high1[16], high2[16];
  TRgbHalfMasks() {
    for (int j = 0; j < 16; ++j) low0[j] = low1[j] = high1[j] = high2[j] = -1;
    for (int j = 0; j < 24; ++j) {
      const int element = 6 * (j / 3) + j % 3;
      const int reg = element / 16, local = element % 16;
      int8_t* mask = j < 16 ? (reg == 0 ? low0 : low1) : (reg == 1 ? high1 : high2);
      mask[j % 16] = static_cast<int8_t>(local);
    }
  }
};

// Bytes p[0..15] in the low half and p[48..63] in the high half: the same place in
// two neighbouring blocks of 48 bytes.
__attribute__((target("avx2"))) inline __m256i LoadBlocks(const uint8_t* p) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), 1);
}

// 24-bit: the sums of both rows widened to words, each added to the one three words
// (one pixel) on, and the sums of even pixels packed together.
template <bool Even>
__attribute__((target("avx2"))) int HalveRowsAvx2Rgb(const uint8_t* a, const uint8_t* b, uint8_t* out, int outWidth) {
  static const TRgbHalfMasks masks;
  const __m128i low0 = _mm_load_si128(reinterpret_cast<const __m128i*>(masks.low0));
  const __m128i low1 = _mm_load_si128(reinterpret_cast<const __m128i*>(masks.low1));
  const __m128i high1 = _mm_load_si128(reinterpret_cast<const __m128i*>(masks.high1));
  const __m128i high2 = _mm_load_si128(reinterpret_cast<const __m128i*>(masks.high2));
  const __m128i zero = _mm_setzero_si128();
  int x = 0;
  // Two blocks at once, one in each half of the 256-bit registers.
  {
    const __m256i wideLow0 = _mm256_broadcastsi128_si256(low0), wideLow1 = _mm256_broadcastsi128_si256(low1);
    const __m256i wideHigh1 = _mm256_broadcastsi128_si256(high1), wideHigh2 = _mm256_broadcastsi128_si256(high2);
    const __m256i wideZero = _mm256_setzero_si256();
    for (; x + 16 <= outWidth; x += 16) {
      _mm_prefetch(reinterpret_cast<const char*>(a + 6 * x + 1024), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(b + 6 * x + 1024), _MM_HINT_T0);
      __m256i s[7];
      for (int i = 0; i < 3; ++i) {
        const __m256i va = LoadBlocks(a + 6 * x + 16 * i), vb = LoadBlocks(b + 6 * x + 16 * i);
        s[2 * i] = _mm256_add_epi16(_mm256_unpacklo_epi8(va, wideZero), _mm256_unpacklo_epi8(vb, wideZero));
        s[2 * i + 1] = _mm256_add_epi16(_mm256_unpackhi_epi8(va, wideZero), _mm256_unpackhi_epi8(vb, wideZero));
      }
      s[6] = wideZero;
      __m256i r[6];
      for (int i = 0; i < 6; ++i)
        r[i] = RoundQuarter<Even>(_mm256_add_epi16(s[i], _mm256_alignr_epi8(s[i + 1], s[i], 6)));
      const __m256i b0 = _mm256_packus_epi16(r[0], r[1]), b1 = _mm256_packus_epi16(r[2], r[3]),
                    b2 = _mm256_packus_epi16(r[4], r[5]);
      const __m256i first = _mm256_or_si256(_mm256_shuffle_epi8(b0, wideLow0), _mm256_shuffle_epi8(b1, wideLow1));
      const __m256i second = _mm256_or_si256(_mm256_shuffle_epi8(b1, wideHigh1), _mm256_shuffle_epi8(b2, wideHigh2));
      uint8_t* o = out + 3 * x;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(first));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 16), _mm256_castsi256_si128(second));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 24), _mm256_extracti128_si256(first, 1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 40), _mm256_extracti128_si256(second, 1));
    }
  }
  for (; x + 8 <= outWidth; x += 8) {
    __m128i s[7];
    for (int i = 0; i < 3; ++i) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 6 * x + 16 * i));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 6 * x + 16 * i));
      s[2 * i] = _mm_add_epi16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero));
      s[2 * i + 1] = _mm_add_epi16(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero));
    }
    s[6] = zero;
    __m128i r[6];
    for (int i = 0; i < 6; ++i) r[i] = RoundQuarter<Even>(_mm_add_epi16(s[i], _mm_alignr_epi8(s[i + 1], s[i], 6)));
    const __m128i b0 = _mm_packus_epi16(r[0], r[1]), b1 = _mm_packus_epi16(r[2], r[3]),
                  b2 = _mm_packus_epi16(r[4], r[5]);
    const __m128i first = _mm_or_si128(_mm_shuffle_epi8(b0, low0), _mm_shuffle_epi8(b1, low1));
    const __m128i second = _mm_or_si128(_mm_shuffle_epi8(b1, high1), _mm_shuffle_epi8(b2, high2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), first);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * x + 16), second);
  }
  return x;
}

#endif

}  // namespace

bool ResampleVectorsEnabled() { return HaveAvx2() && !vectorsSwitchedOff.load(std::memory_order_relaxed); }

void SetResampleVectorsForTesting(bool enabled) { vectorsSwitchedOff = !enabled; }

void HalveRows(const uint8_t* a, const uint8_t* b, uint8_t* out, int outWidth, int pixelSize, THalfRounding rounding) {
  const bool even = rounding == THalfRounding::HalfEven;
  int done = 0;
#ifdef __x86_64__
  if (ResampleVectorsEnabled()) {
    if (pixelSize == 1)
      done = even ? HalveRowsAvx2Grey<true>(a, b, out, outWidth) : HalveRowsAvx2Grey<false>(a, b, out, outWidth);
    else if (pixelSize == 3)
      done = even ? HalveRowsAvx2Rgb<true>(a, b, out, outWidth) : HalveRowsAvx2Rgb<false>(a, b, out, outWidth);
  }
#endif
  const int skip = 2 * done * pixelSize;
  a += skip, b += skip, out += done * pixelSize;
  const int rest = outWidth - done;
  switch (pixelSize * 2 + even) {
    case 2:
      return HalveRowsPlain<1, false>(a, b, out, rest);
    case 3:
      return HalveRowsPlain<1, true>(a, b, out, rest);
    case 6:
      return HalveRowsPlain<3, false>(a, b, out, rest);
    case 7:
      return HalveRowsPlain<3, true>(a, b, out, rest);
    default:
      return HalveRowsPlain(a, b, out, rest, pixelSize, even);
  }
}

// --- bilinear ---------------------------------------------------------------

TBilinearAxis BilinearAxis(int n, int m) {
  double o, s;
  if (m <= 1) {
    o = 0.5;
    s = 0.0;
  } else if (n > m) {
    const double ratio = double(m) / n;
    if (ratio >= 0.5) {
      o = 1.0 - ratio;
      s = (n - 1 - 2 * o) / (m - 1);
    } else {
      o = 0.5;
      s = double(n - 2) / (m - 1);
    }
  } else {
    o = 0.0;
    s = double(n - 1) / (m - 1);
  }
  TBilinearAxis axis;
  axis.low.resize(m);
  axis.high.resize(m);
  axis.weight.resize(m);
  const int lastLow = std::max(n - 2, 0);
  double p = o;
  for (int j = 0; j < m; ++j, p += s) {
    const int low = std::clamp(static_cast<int>(p), 0, lastLow);
    axis.low[j] = low;
    axis.high[j] = std::min(low + 1, n - 1);
    axis.weight[j] = p - low;
  }
  return axis;
}

#ifdef __x86_64__

namespace {

// The plain loops compute, per channel, h = a (1 - w) + b w on the two source rows and
// v = h_top (1 - w') + h_bottom w' in doubles, and round v to a byte, halves to even.
// The vector kernels do the same in single precision (u = 2^-24), which moves v a
// little.  Let A and B bound |1 - w| + |w| on each axis (1 unless a position strays
// past the last sample).  Rounding the weights to floats, each product and the sum
// are three relative errors of at most u, so each h moves by at most 3.01 u * 255 A.
// The second blend carries that error times B and adds three more relative errors of
// its own, so |v_float - v_exact| <= 6.03 u * 255 A B; the doubles stray from the
// exact value by 4.03 * 2^-53 * 255 A B more, which the margin (8 u instead of 6.03 u)
// covers.  Only a v_float that close to a half can round differently from the plain
// loops; those few samples are computed again exactly as the plain loops do.  When
// every weight is a multiple of 1/128 within 0..1 both computations are exact (no
// product or sum needs more than 24 bits), so nothing is computed again, and the
// samples that land exactly on halves, common then, round alike.
constexpr double kFloatUnit = 1.0 / 16777216.0;

bool IsShortDyadic(double w) { return w >= 0.0 && w <= 1.0 && w * 128.0 == std::floor(w * 128.0); }

struct TBilinearPlan {
  int ps = 0, n = 0, m = 0, lineLength = 0, gatherEnd = 0, pixelEnd = 0;
  std::vector<int> offset;          // per element: byte of the low sample in the row
  std::vector<float> low, high;     // per element: the weights as floats
  std::vector<float> pairs;         // per column: low and high weight
  std::vector<double> lowD, highD;  // per column: the weights the plain loops use
  std::vector<float> threshold;     // per target row: distance from a half that is safe
};

// 24-bit: one 8-byte load per target pixel holds both neighbours, widened to eight
// lanes, weighted and folded: lanes 0..2 get lanes 3..5 added.  Each store writes
// four floats, one past the pixel, which the next pixel overwrites.
__attribute__((target("avx2"))) void BlendPixelsAvx2Rgb(const uint8_t* row, const TBilinearPlan& plan, float* out) {
  const int* offset = plan.offset.data();
  const float* weights = plan.pairs.data();
  const __m256i spread = _mm256_setr_epi32(0, 0, 0, 1, 1, 1, 1, 1);
  const __m256i fold = _mm256_setr_epi32(3, 4, 5, 3, 3, 3, 3, 3);
  int x = 0;
  for (; x < plan.pixelEnd; ++x) {
    _mm_prefetch(reinterpret_cast<const char*>(row + offset[3 * x] + 1024), _MM_HINT_T0);
    const __m256 samples = _mm256_cvtepi32_ps(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + offset[3 * x]))));
    const __m256 w = _mm256_permutevar8x32_ps(
        _mm256_castps128_ps256(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(weights + 2 * x)))), spread);
    const __m256 products = _mm256_mul_ps(samples, w);
    _mm_storeu_ps(out + 3 * x,
                  _mm256_castps256_ps128(_mm256_add_ps(products, _mm256_permutevar8x32_ps(products, fold))));
  }
  const float* lw = plan.low.data();
  const float* hw = plan.high.data();
  for (int k = 3 * x; k < plan.lineLength; ++k)
    out[k] = float(row[offset[k]]) * lw[k] + float(row[offset[k] + 3]) * hw[k];
}

// Grey: one 32-bit load per sample holds both neighbours.
__attribute__((target("avx2"))) void BlendColumnsAvx2Grey(const uint8_t* row, const TBilinearPlan& plan, float* out) {
  const int* offset = plan.offset.data();
  const float* lw = plan.low.data();
  const float* hw = plan.high.data();
  const __m256i byteMask = _mm256_set1_epi32(0xFF);
  int k = 0;
  for (; k + 8 <= plan.gatherEnd; k += 8) {
    const __m256i v = _mm256_i32gather_epi32(reinterpret_cast<const int*>(row),
                                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(offset + k)), 1);
    const __m256i a = _mm256_and_si256(v, byteMask);
    const __m256i b = _mm256_and_si256(_mm256_srli_epi32(v, 8), byteMask);
    const __m256 h = _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(a), _mm256_loadu_ps(lw + k)),
                                   _mm256_mul_ps(_mm256_cvtepi32_ps(b), _mm256_loadu_ps(hw + k)));
    _mm256_storeu_ps(out + k, h);
  }
  for (; k < plan.lineLength; ++k) out[k] = float(row[offset[k]]) * lw[k] + float(row[offset[k] + 1]) * hw[k];
}

// The plain loops' value of element k of target row y.
uint8_t ExactSample(const TLinearBitmap& source, const TBilinearPlan& plan, const TBilinearAxis& ay, int y, int k) {
  const int x = k / plan.ps;
  const int at = plan.offset[k];
  const uint8_t* top = source.ScanLine(ay.low[y]);
  const uint8_t* bottom = source.ScanLine(ay.high[y]);
  const double lw = plan.lowD[x], hw = plan.highD[x];
  const double t = double(top[at]) * lw + double(top[at + plan.ps]) * hw;
  const double b = double(bottom[at]) * lw + double(bottom[at + plan.ps]) * hw;
  const double fy = ay.weight[y], gy = 1.0 - fy;
  return RoundClampByte(t * gy + b * fy);
}

__attribute__((target("avx2"))) void BlendRowsAvx2(const TLinearBitmap& source, const TBilinearPlan& plan,
                                                   const TBilinearAxis& ay, int y, const float* top,
                                                   const float* bottom, uint8_t* out) {
  const double fy = ay.weight[y];
  const float gyf = float(1.0 - fy), fyf = float(fy), threshold = plan.threshold[y];
  const __m256 g = _mm256_set1_ps(gyf), f = _mm256_set1_ps(fyf), limit = _mm256_set1_ps(threshold);
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  const int length = plan.lineLength;
  int k = 0;
  for (; k + 16 <= length; k += 16) {
    const __m256 v0 =
        _mm256_add_ps(_mm256_mul_ps(_mm256_loadu_ps(top + k), g), _mm256_mul_ps(_mm256_loadu_ps(bottom + k), f));
    const __m256 v1 = _mm256_add_ps(_mm256_mul_ps(_mm256_loadu_ps(top + k + 8), g),
                                    _mm256_mul_ps(_mm256_loadu_ps(bottom + k + 8), f));
    const __m256 d0 = _mm256_and_ps(_mm256_sub_ps(_mm256_sub_ps(v0, _mm256_floor_ps(v0)), half), magnitude);
    const __m256 d1 = _mm256_and_ps(_mm256_sub_ps(_mm256_sub_ps(v1, _mm256_floor_ps(v1)), half), magnitude);
    unsigned near = unsigned(_mm256_movemask_ps(_mm256_cmp_ps(d0, limit, _CMP_LE_OQ))) |
                    (unsigned(_mm256_movemask_ps(_mm256_cmp_ps(d1, limit, _CMP_LE_OQ))) << 8);
    const __m256i words =
        _mm256_permute4x64_epi64(_mm256_packs_epi32(_mm256_cvtps_epi32(v0), _mm256_cvtps_epi32(v1)), 0xD8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                     _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1)));
    for (; near; near &= near - 1) {
      const int i = k + __builtin_ctz(near);
      out[i] = ExactSample(source, plan, ay, y, i);
    }
  }
  for (; k < length; ++k) {
    const float v = top[k] * gyf + bottom[k] * fyf;
    out[k] = std::abs(v - std::floor(v) - 0.5f) <= threshold ? ExactSample(source, plan, ay, y, k)
                                                             : RoundClampByte(double(v));
  }
}

}  // namespace

bool BilinearBytesFast(const TLinearBitmap& source, TLinearBitmap& target, const TBilinearAxis& ax,
                       const TBilinearAxis& ay) {
  const int ps = source.PixelSize;
  if (!ResampleVectorsEnabled() || (ps != 1 && ps != 3) || source.Width < 2) return false;
  const int n = source.Width, m = target.Width, rows = target.Height;
  if (int64_t(n) * ps > 0x7FFFFFF0 || int64_t(m) * ps > 0x7FFFFFF0) return false;

  // Exactly half of an axis: every weight is 1/2 and the result the 2 x 2 mean.
  auto isHalving = [](const TBilinearAxis& axis) {
    for (size_t j = 0; j < axis.low.size(); ++j)
      if (axis.low[j] != int(2 * j) || axis.weight[j] != 0.5) return false;
    return true;
  };
  if (isHalving(ax) && isHalving(ay)) {
    ForEachRow(rows, int64_t(m) * ps, true, [&](int y, int) {
      HalveRows(source.ScanLine(2 * y), source.ScanLine(2 * y + 1), target.ScanLine(y), m, ps, THalfRounding::HalfEven);
    });
    return true;
  }

  TBilinearPlan plan;
  plan.ps = ps, plan.n = n, plan.m = m, plan.lineLength = m * ps;
  double spreadX = 0, spreadY = 0;
  bool exactX = true;
  plan.lowD.resize(m);
  plan.highD.resize(m);
  for (int x = 0; x < m; ++x) {
    if (ax.high[x] != ax.low[x] + 1) return false;
    plan.highD[x] = ax.weight[x];
    plan.lowD[x] = 1.0 - ax.weight[x];
    spreadX = std::max(spreadX, std::abs(plan.lowD[x]) + std::abs(plan.highD[x]));
    exactX = exactX && IsShortDyadic(ax.weight[x]);
  }
  for (int y = 0; y < rows; ++y) spreadY = std::max(spreadY, std::abs(1.0 - ay.weight[y]) + std::abs(ay.weight[y]));
  if (spreadX > 1.25 || spreadY > 1.25) return false;
  // The margin also covers the rounding of the distance test itself.
  const float inexact = float(255.0 * spreadX * spreadY * 8.0 * kFloatUnit + 1.0 / (1 << 20));
  plan.threshold.resize(rows);
  for (int y = 0; y < rows; ++y) plan.threshold[y] = exactX && IsShortDyadic(ay.weight[y]) ? -1.0f : inexact;

  plan.offset.resize(plan.lineLength);
  plan.low.resize(plan.lineLength);
  plan.high.resize(plan.lineLength);
  const int rowBytes = n * ps;
  int safe = plan.lineLength;
  for (int k = 0; k < plan.lineLength; ++k) {
    const int x = k / ps;
    plan.offset[k] = ax.low[x] * ps + k % ps;
    plan.low[k] = float(plan.lowD[x]);
    plan.high[k] = float(plan.highD[x]);
    if (plan.offset[k] + 4 > rowBytes) safe = std::min(safe, k);
  }
  plan.gatherEnd = safe;
  // The 8-byte loads of 24-bit pixels stay inside the row, and the 4-float stores
  // inside the line.
  plan.pairs.resize(2 * size_t(m));
  for (int x = 0; x < m; ++x) {
    plan.pairs[2 * x] = float(plan.lowD[x]);
    plan.pairs[2 * x + 1] = float(plan.highD[x]);
    if (ax.low[x] * ps + 8 <= rowBytes && 3 * x + 4 <= plan.lineLength) plan.pixelEnd = x + 1;
  }

  // Each worker keeps its last two horizontally blended source rows: neighbouring
  // target rows mostly read the same ones.
  struct TRowCache {
    std::vector<float> data[2];
    int row[2] = {-1, -1};
  };
  std::vector<TRowCache> caches(WorkerCount());
  for (auto& cache : caches)
    for (auto& data : cache.data) data.resize(size_t(plan.lineLength));
  auto blended = [&](TRowCache& cache, int sourceRow, int keep) -> const float* {
    for (int i = 0; i < 2; ++i)
      if (cache.row[i] == sourceRow) return cache.data[i].data();
    const int slot = cache.row[0] == keep ? 1 : 0;
    if (ps == 1)
      BlendColumnsAvx2Grey(source.ScanLine(sourceRow), plan, cache.data[slot].data());
    else
      BlendPixelsAvx2Rgb(source.ScanLine(sourceRow), plan, cache.data[slot].data());
    cache.row[slot] = sourceRow;
    return cache.data[slot].data();
  };
  ForEachRow(rows, plan.lineLength, true, [&](int y, int worker) {
    TRowCache& cache = caches[worker];
    const float* top = blended(cache, ay.low[y], ay.high[y]);
    const float* bottom = blended(cache, ay.high[y], ay.low[y]);
    BlendRowsAvx2(source, plan, ay, y, top, bottom, target.ScanLine(y));
  });
  return true;
}

#else

bool BilinearBytesFast(const TLinearBitmap&, TLinearBitmap&, const TBilinearAxis&, const TBilinearAxis&) {
  return false;
}

#endif

}  // namespace sq
