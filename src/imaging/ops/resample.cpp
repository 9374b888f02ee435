#include "imaging/ops/resample.h"

#include <algorithm>
#include <cstring>
#include <vector>

#ifdef __x86_64__
#include <immintrin.h>
#endif

#include "base/cpu_features.h"
#include "base/exception.h"
#include "imaging/ops/filters_rows.h"
#include "imaging/ops/resample_rows.h"

namespace sq {

namespace {

bool IsResamplable(TPixelFormat format) { return format == pf8bit || format == pf16bit || format == pf24bit; }

// Runs fill(result) on a target of the given size in the source's format, with the
// source's palette; builds aside when target is the source.
template <class Fill>
void IntoTarget(const TLinearBitmap& source, TLinearBitmap& target, int width, int height, Fill&& fill) {
  if (&source == &target) {
    TLinearBitmap result;
    IntoTarget(source, result, width, height, fill);
    target.TakeOver(result);
    return;
  }
  if (!source.Present || source.Width < 1 || source.Height < 1 || width < 1 || height < 1) {
    target.Dispose();
    return;
  }
  target.New(width, height, source.PixelFormat);
  if (source.PixelFormat == pf8bit) std::memcpy(target.Palette, source.Palette, 768);
  fill(target);
}

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void Store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// --- bilinear ---------------------------------------------------------------

// Vertical blend of two horizontally blended rows into bytes.  The vector paths use
// the same IEEE operations as the scalar tail (multiply, multiply, add; no fused
// multiply-add), and cvtpd2dq rounds halves to even under the default rounding mode
// like RoundEven, so every path gives the same bytes.  The saturating packs only trim
// the hair a weight just above 1 can add.
#ifdef __x86_64__
__attribute__((target("avx2"))) void BlendRowsAvx2(const double* top, const double* bottom, double gy, double fy,
                                                   uint8_t* out, int length, int& done) {
  const __m256d wTop = _mm256_set1_pd(gy), wBottom = _mm256_set1_pd(fy);
  int k = 0;
  for (; k + 16 <= length; k += 16) {
    __m128i q[4];
    for (int i = 0; i < 4; ++i) {
      const __m256d v = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(top + k + 4 * i), wTop),
                                      _mm256_mul_pd(_mm256_loadu_pd(bottom + k + 4 * i), wBottom));
      q[i] = _mm256_cvtpd_epi32(v);
    }
    const __m128i words0 = _mm_packs_epi32(q[0], q[1]), words1 = _mm_packs_epi32(q[2], q[3]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(words0, words1));
  }
  done = k;
}
#endif

void BlendRowsToBytes(const double* top, const double* bottom, double gy, double fy, uint8_t* out, int length) {
  int k = 0;
#ifdef __x86_64__
  if (HaveAvx2()) {
    BlendRowsAvx2(top, bottom, gy, fy, out, length, k);
  } else {
    const __m128d wTop = _mm_set1_pd(gy), wBottom = _mm_set1_pd(fy);
    for (; k + 8 <= length; k += 8) {
      __m128i q[4];
      for (int i = 0; i < 4; ++i) {
        const __m128d v = _mm_add_pd(_mm_mul_pd(_mm_loadu_pd(top + k + 2 * i), wTop),
                                     _mm_mul_pd(_mm_loadu_pd(bottom + k + 2 * i), wBottom));
        q[i] = _mm_cvtpd_epi32(v);
      }
      const __m128i words = _mm_packs_epi32(_mm_unpacklo_epi64(q[0], q[1]), _mm_unpacklo_epi64(q[2], q[3]));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(words, words));
    }
  }
#endif
  for (; k < length; ++k) out[k] = RoundClampByte(top[k] * gy + bottom[k] * fy);
}

// Horizontal blend of one source row (as doubles) at the target columns.
template <int Channels>
void BlendColumns(const double* row, const int* lowAt, const int* highAt, const double* lowWeight,
                  const double* highWeight, double* out, int m) {
  for (int x = 0; x < m; ++x, out += Channels) {
    const double lw = lowWeight[x], hw = highWeight[x];
    const double* a = row + lowAt[x];
    const double* b = row + highAt[x];
    for (int c = 0; c < Channels; ++c) out[c] = a[c] * lw + b[c] * hw;
  }
}

template <bool Wide>
void BilinearInto(const TLinearBitmap& source, TLinearBitmap& target) {
  const int channels = Wide ? 1 : source.PixelSize;
  const int m = target.Width;
  const int lineLength = m * channels;
  const TBilinearAxis ax = BilinearAxis(source.Width, m);
  const TBilinearAxis ay = BilinearAxis(source.Height, target.Height);
  if (!Wide && BilinearBytesFast(source, target, ax, ay)) return;
  std::vector<double> lowWeight(m), highWeight(m);
  std::vector<int> lowAt(m), highAt(m);
  for (int x = 0; x < m; ++x) {
    lowAt[x] = ax.low[x] * channels;
    highAt[x] = ax.high[x] * channels;
    highWeight[x] = ax.weight[x];
    lowWeight[x] = 1.0 - ax.weight[x];
  }
  std::vector<std::vector<double>> widened(WorkerCount(), std::vector<double>(size_t(source.Width) * channels));
  auto blendRow = [&](const uint8_t* row, double* out, int worker) {
    double* samples = widened[worker].data();
    const int n = source.Width * channels;
    if constexpr (Wide) {
      for (int i = 0; i < n; ++i) samples[i] = Load16(row + 2 * i);
    } else {
      for (int i = 0; i < n; ++i) samples[i] = row[i];
    }
    const int *lo = lowAt.data(), *hi = highAt.data();
    const double *lw = lowWeight.data(), *hw = highWeight.data();
    switch (channels) {
      case 1:
        BlendColumns<1>(samples, lo, hi, lw, hw, out, m);
        break;
      case 3:
        BlendColumns<3>(samples, lo, hi, lw, hw, out, m);
        break;
      default:
        BlendColumns<4>(samples, lo, hi, lw, hw, out, m);
        break;
    }
  };
  // Each worker keeps its last two horizontally blended source rows: neighbouring
  // target rows mostly read the same ones.
  struct TRowCache {
    std::vector<double> data[2];
    int row[2] = {-1, -1};
  };
  std::vector<TRowCache> caches(WorkerCount());
  for (auto& cache : caches)
    for (auto& data : cache.data) data.resize(size_t(lineLength));
  auto blended = [&](TRowCache& cache, int sourceRow, int keep, int worker) -> const double* {
    for (int i = 0; i < 2; ++i)
      if (cache.row[i] == sourceRow) return cache.data[i].data();
    const int slot = cache.row[0] == keep ? 1 : 0;
    blendRow(source.ScanLine(sourceRow), cache.data[slot].data(), worker);
    cache.row[slot] = sourceRow;
    return cache.data[slot].data();
  };
  ForEachRow(target.Height, lineLength, true, [&](int y, int worker) {
    TRowCache& cache = caches[worker];
    const double* top = blended(cache, ay.low[y], ay.high[y], worker);
    const double* bottom = blended(cache, ay.high[y], ay.low[y], worker);
    const double fy = ay.weight[y], gy = 1.0 - fy;
    uint8_t* out = target.ScanLine(y);
    if constexpr (Wide) {
      for (int k = 0; k < lineLength; ++k) {
        const double v = top[k] * gy + bottom[k] * fy;
        Store16(out + 2 * k, static_cast<uint16_t>(v <= 0 ? 0 : (v >= 65535 ? 65535 : RoundEvenInt(v))));
      }
    } else {
      BlendRowsToBytes(top, bottom, gy, fy, out, lineLength);
    }
  });
}

// --- box average --------------------------------------------------------------

// Exclusive block ends: the rounded scaled end of each target sample, never empty.
std::vector<int> AreaEnds(int n, int m) {
  std::vector<int> ends(m);
  int previous = 0;
  for (int j = 0; j < m; ++j) {
    int end = static_cast<int>(DivRoundEven(int64_t(j + 1) * n, m));
    end = std::clamp(end, std::min(previous + 1, n), n);
    ends[j] = end;
    previous = end;
  }
  return ends;
}

int AreaStart(const std::vector<int>& ends, int j) {
  const int start = j == 0 ? 0 : ends[j - 1];
  return std::min(start, ends[j] - 1);
}

// sum / count rounded halves to even: a quotient from the reciprocal, corrected by the
// remainder, so it is exact without a division per sample.
inline uint8_t AreaMean(int64_t sum, int64_t count, double reciprocal) {
  // The mean is at most 255, so the product is within one of the quotient.
  int64_t q = static_cast<int64_t>(double(sum) * reciprocal);
  int64_t r = sum - q * count;
  if (r < 0) {
    --q;
    r += count;
  } else if (r >= count) {
    ++q;
    r -= count;
  }
  return static_cast<uint8_t>(q + ((2 * r > count) | ((2 * r == count) & q)));
}

template <class TSum>
void AddBytes(TSum* __restrict sums, const uint8_t* __restrict bytes, int length) {
  for (int k = 0; k < length; ++k) sums[k] += bytes[k];
}

template <class TSum, int Channels>
void AreaMeans(const TSum* columns, const std::vector<int>& xEnds, const std::vector<double>& widthReciprocal, int rows,
               int channels, uint8_t* out) {
  const int ch = Channels ? Channels : channels;
  const double rowReciprocal = 1.0 / rows;
  for (int x = 0; x < int(xEnds.size()); ++x, out += ch) {
    const int x0 = AreaStart(xEnds, x), x1 = xEnds[x];
    const int64_t count = int64_t(x1 - x0) * rows;
    const double reciprocal = widthReciprocal[x] * rowReciprocal;
    int64_t sums[Channels ? Channels : 4] = {};
    for (const TSum* block = columns + x0 * ch; block < columns + x1 * ch; block += ch)
      for (int c = 0; c < ch; ++c) sums[c] += int64_t(block[c]);
    for (int c = 0; c < ch; ++c) out[c] = AreaMean(sums[c], count, reciprocal);
  }
}

// Column sums of up to Height rows: 32 bits hold any sum of 16843009 bytes.
template <class TSum>
void AreaRowsInto(const TLinearBitmap& source, TLinearBitmap& target) {
  const int channels = source.PixelSize;
  const int n = source.Width;
  const int length = n * channels;
  const std::vector<int> xEnds = AreaEnds(n, target.Width);
  const std::vector<int> yEnds = AreaEnds(source.Height, target.Height);
  std::vector<double> widthReciprocal(target.Width);
  for (int x = 0; x < target.Width; ++x) widthReciprocal[x] = 1.0 / (xEnds[x] - AreaStart(xEnds, x));
  std::vector<std::vector<TSum>> scratch(WorkerCount(), std::vector<TSum>(size_t(length)));
  ForEachRow(target.Height, int64_t(n) * channels, true, [&](int y, int worker) {
    TSum* columns = scratch[worker].data();
    const int y0 = AreaStart(yEnds, y), y1 = yEnds[y];
    std::fill(columns, columns + length, TSum(0));
    for (int sy = y0; sy < y1; ++sy) AddBytes(columns, source.ScanLine(sy), length);
    uint8_t* out = target.ScanLine(y);
    if (channels == 3)
      AreaMeans<TSum, 3>(columns, xEnds, widthReciprocal, y1 - y0, channels, out);
    else if (channels == 1)
      AreaMeans<TSum, 1>(columns, xEnds, widthReciprocal, y1 - y0, channels, out);
    else
      AreaMeans<TSum, 0>(columns, xEnds, widthReciprocal, y1 - y0, channels, out);
  });
}

void AreaInto(const TLinearBitmap& source, TLinearBitmap& target) {
  if (source.Height <= 16843009)
    AreaRowsInto<uint32_t>(source, target);
  else
    AreaRowsInto<uint64_t>(source, target);
}

void RequireByteSamples(const TLinearBitmap& source) {
  if (source.Present && source.PixelFormat == pf16bit) throw ELinearBitmap("Unsupported pixel format");
}

}  // namespace

void Resize(TLinearBitmap& bitmap, int width, int height) {
  if (bitmap.Present && width == bitmap.Width && height == bitmap.Height) return;
  TLinearBitmap result;
  SmartResize(bitmap, result, width, height);
  bitmap.TakeOver(result);
}

void SmartResize(const TLinearBitmap& source, TLinearBitmap& target, int width, int height) {
  if (&source == &target) {
    TLinearBitmap result;
    SmartResize(source, result, width, height);
    target.TakeOver(result);
    return;
  }
  if (!source.Present || source.Width < 1 || width < 1 || height < 1) {
    target.Dispose();
    return;
  }
  if (!IsResamplable(source.PixelFormat)) throw ELinearBitmap("Unsupported pixel format");
  const int w = source.Width, h = source.Height;
  if (width == w && height == h) {
    target.Assign(source);
    return;
  }
  if (source.PixelFormat == pf8bit && !source.IsGrayScale()) {
    PixelResize(source, width, height, target);
    return;
  }
  const bool mixed = (width < w && height > h) || (width > w && height < h);
  if (mixed || source.PixelFormat == pf16bit) {
    BilinearResize(source, target, width, height);
  } else if (width == w / 2 && height == h / 2) {
    HalfSize(source, target);
  } else if (width == 2 * w && height == 2 * h) {
    DoubleSize(source, target);
  } else if (int64_t(width) * 2 >= w && int64_t(height) * 2 >= h) {
    BilinearResize(source, target, width, height);
  } else {
    AreaResize(source, target, width, height);
  }
}

void PixelResize(const TLinearBitmap& source, int width, int height, TLinearBitmap& target) {
  IntoTarget(source, target, width, height, [&](TLinearBitmap& out) {
    const int pixelSize = source.PixelSize;
    // Positions accumulate the ratio step by step.
    std::vector<int> columns(width);
    const double xStep = double(source.Width) / width, yStep = double(source.Height) / height;
    double position = 0.0;
    for (int x = 0; x < width; ++x, position += xStep)
      columns[x] = std::min(static_cast<int>(position), source.Width - 1) * pixelSize;
    std::vector<int> rows(height);
    position = 0.0;
    for (int y = 0; y < height; ++y, position += yStep)
      rows[y] = std::min(static_cast<int>(position), source.Height - 1);
    ForEachRow(height, width, true, [&](int y, int) {
      const uint8_t* in = source.ScanLine(rows[y]);
      uint8_t* o = out.ScanLine(y);
      if (pixelSize == 1) {
        for (int x = 0; x < width; ++x) o[x] = in[columns[x]];
      } else if (pixelSize == 3) {
        for (int x = 0; x < width; ++x, o += 3) {
          const uint8_t* p = in + columns[x];
          o[0] = p[0];
          o[1] = p[1];
          o[2] = p[2];
        }
      } else {
        for (int x = 0; x < width; ++x, o += pixelSize) std::memcpy(o, in + columns[x], pixelSize);
      }
    });
  });
}

void HalfSize(const TLinearBitmap& source, TLinearBitmap& target) {
  RequireByteSamples(source);
  IntoTarget(source, target, source.Width / 2, source.Height / 2, [&](TLinearBitmap& out) {
    const int ps = source.PixelSize;
    ForEachRow(out.Height, out.Width * ps, true, [&](int y, int) {
      HalveRows(source.ScanLine(2 * y), source.ScanLine(2 * y + 1), out.ScanLine(y), out.Width, ps,
                THalfRounding::HalfUp);
    });
  });
}

void DoubleSize(const TLinearBitmap& source, TLinearBitmap& target) {
  RequireByteSamples(source);
  if (source.Present && (source.Width > 0x3FFFFFFF || source.Height > 0x3FFFFFFF))
    throw ELinearBitmap("Invalid bitmap size");
  IntoTarget(source, target, source.Width * 2, source.Height * 2, [&](TLinearBitmap& out) {
    const int ps = source.PixelSize;
    const int w = source.Width;
    ForEachRow(out.Height, int64_t(out.Width) * ps, true, [&](int y, int) {
      // Odd target rows sit on source rows; even ones between two (the first
      // repeats the top row).
      const int below = y / 2 < source.Height ? y / 2 : source.Height - 1;
      const int sy0 = (y & 1) ? (y - 1) / 2 : std::max(y / 2 - 1, 0);
      const int sy1 = (y & 1) ? sy0 : below;
      const uint8_t* r0 = source.ScanLine(sy0);
      const uint8_t* r1 = source.ScanLine(sy1);
      uint8_t* o = out.ScanLine(y);
      const bool onRow = (y & 1) != 0;
      for (int x = 0; x < 2 * w; ++x, o += ps) {
        const int sx0 = (x & 1) ? (x - 1) / 2 : std::max(x / 2 - 1, 0);
        const int sx1 = (x & 1) ? sx0 : std::min(x / 2, w - 1);
        const uint8_t* a = r0 + sx0 * ps;
        const uint8_t* b = r0 + sx1 * ps;
        const uint8_t* c = r1 + sx0 * ps;
        const uint8_t* d = r1 + sx1 * ps;
        if (onRow && (x & 1)) {
          for (int k = 0; k < ps; ++k) o[k] = a[k];
        } else if (onRow) {
          for (int k = 0; k < ps; ++k) o[k] = static_cast<uint8_t>((a[k] + b[k] + 1) >> 1);
        } else if (x & 1) {
          for (int k = 0; k < ps; ++k) o[k] = static_cast<uint8_t>((a[k] + c[k] + 1) >> 1);
        } else {
          for (int k = 0; k < ps; ++k) o[k] = static_cast<uint8_t>((a[k] + b[k] + c[k] + d[k] + 2) >> 2);
        }
      }
    });
  });
}

void AreaResize(const TLinearBitmap& source, TLinearBitmap& target) {
  if (&source == &target) return;
  AreaResize(source, target, target.Width, target.Height);
}

void AreaResize(const TLinearBitmap& source, TLinearBitmap& target, int width, int height) {
  RequireByteSamples(source);
  IntoTarget(source, target, width, height, [&](TLinearBitmap& out) { AreaInto(source, out); });
}

void BilinearResize(const TLinearBitmap& source, TLinearBitmap& target) {
  if (&source == &target) return;
  BilinearResize(source, target, target.Width, target.Height);
}

void BilinearResize(const TLinearBitmap& source, TLinearBitmap& target, int width, int height) {
  if (source.Present && !IsResamplable(source.PixelFormat)) throw ELinearBitmap("Unsupported pixel format");
  IntoTarget(source, target, width, height, [&](TLinearBitmap& out) {
    if (source.PixelFormat == pf16bit)
      BilinearInto<true>(source, out);
    else
      BilinearInto<false>(source, out);
  });
}

void SplitColorPlanes(const TLinearBitmap& bitmap, TLinearBitmap& plane0, TLinearBitmap& plane1,
                      TLinearBitmap& plane2) {
  if (!bitmap.Present || bitmap.PixelFormat != pf24bit) throw ELinearBitmap("Unsupported pixel format");
  TLinearBitmap* planes[3] = {&plane0, &plane1, &plane2};
  for (auto* plane : planes) {
    plane->New(bitmap.Width, bitmap.Height, pf8bit);
    std::memcpy(plane->Palette, GrayPalette(), 768);
  }
  ForEachRow(bitmap.Height, bitmap.Width, false, [&](int y, int) {
    const uint8_t* in = bitmap.ScanLine(y);
    uint8_t* o0 = plane0.ScanLine(y);
    uint8_t* o1 = plane1.ScanLine(y);
    uint8_t* o2 = plane2.ScanLine(y);
    for (int x = 0; x < bitmap.Width; ++x, in += 3) {
      o0[x] = in[0];
      o1[x] = in[1];
      o2[x] = in[2];
    }
  });
}

void MergeColorPlanes(const TLinearBitmap& plane0, const TLinearBitmap& plane1, const TLinearBitmap& plane2,
                      TLinearBitmap& target) {
  const TLinearBitmap* planes[3] = {&plane0, &plane1, &plane2};
  for (auto* plane : planes) {
    if (!plane->Present || plane->PixelFormat != pf8bit) throw ELinearBitmap("Unsupported pixel format");
    if (plane->Width != plane0.Width || plane->Height != plane0.Height) throw ELinearBitmap("Invalid bitmap size");
    if (plane == &target) {
      TLinearBitmap result;
      MergeColorPlanes(plane0, plane1, plane2, result);
      target.TakeOver(result);
      return;
    }
  }
  target.New(plane0.Width, plane0.Height, pf24bit);
  ForEachRow(target.Height, target.Width, false, [&](int y, int) {
    const uint8_t* i0 = plane0.ScanLine(y);
    const uint8_t* i1 = plane1.ScanLine(y);
    const uint8_t* i2 = plane2.ScanLine(y);
    uint8_t* out = target.ScanLine(y);
    for (int x = 0; x < target.Width; ++x, out += 3) {
      out[0] = i0[x];
      out[1] = i1[x];
      out[2] = i2[x];
    }
  });
}

}  // namespace sq
