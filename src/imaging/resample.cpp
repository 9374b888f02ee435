#include "imaging/resample.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/exception.h"
#include "imaging/filters_rows.h"

namespace sq {

namespace {

bool IsResamplable(TPixelFormat format) {
  return format == pf8bit || format == pf16bit || format == pf24bit;
}

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

struct TBilinearAxis {
  std::vector<int> low, high;
  std::vector<double> weight;  // of the high sample
};

// Target index j samples source position o + j * s, accumulated by adding s.
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

template <bool Wide>
void BilinearInto(const TLinearBitmap& source, TLinearBitmap& target) {
  const int channels = Wide ? 1 : source.PixelSize;
  const int m = target.Width;
  const int lineLength = m * channels;
  const TBilinearAxis ax = BilinearAxis(source.Width, m);
  const TBilinearAxis ay = BilinearAxis(source.Height, target.Height);
  // Source element offsets and weights per target element.
  std::vector<int> lowAt(lineLength), highAt(lineLength);
  std::vector<double> lowWeight(lineLength), highWeight(lineLength);
  for (int x = 0; x < m; ++x)
    for (int c = 0; c < channels; ++c) {
      const int k = x * channels + c;
      lowAt[k] = ax.low[x] * channels + c;
      highAt[k] = ax.high[x] * channels + c;
      highWeight[k] = ax.weight[x];
      lowWeight[k] = 1.0 - ax.weight[x];
    }
  std::vector<std::vector<double>> scratch(WorkerCount(), std::vector<double>(2 * size_t(lineLength)));
  auto blendRow = [&](const uint8_t* row, double* out) {
    for (int k = 0; k < lineLength; ++k) {
      double a, b;
      if constexpr (Wide) {
        a = Load16(row + 2 * lowAt[k]);
        b = Load16(row + 2 * highAt[k]);
      } else {
        a = row[lowAt[k]];
        b = row[highAt[k]];
      }
      out[k] = a * lowWeight[k] + b * highWeight[k];
    }
  };
  ForEachRow(target.Height, lineLength, true, [&](int y, int worker) {
    double* top = scratch[worker].data();
    double* bottom = top + lineLength;
    blendRow(source.ScanLine(ay.low[y]), top);
    blendRow(source.ScanLine(ay.high[y]), bottom);
    const double fy = ay.weight[y], gy = 1.0 - fy;
    uint8_t* out = target.ScanLine(y);
    for (int k = 0; k < lineLength; ++k) {
      const double v = top[k] * gy + bottom[k] * fy;
      if constexpr (Wide) {
        Store16(out + 2 * k, static_cast<uint16_t>(v <= 0 ? 0 : (v >= 65535 ? 65535 : RoundEvenInt(v))));
      } else {
        out[k] = RoundClampByte(v);
      }
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

void AreaInto(const TLinearBitmap& source, TLinearBitmap& target) {
  const int channels = source.PixelSize;
  const int n = source.Width;
  const std::vector<int> xEnds = AreaEnds(n, target.Width);
  const std::vector<int> yEnds = AreaEnds(source.Height, target.Height);
  std::vector<std::vector<int64_t>> scratch(WorkerCount(), std::vector<int64_t>(size_t(n) * channels));
  ForEachRow(target.Height, int64_t(n) * channels, true, [&](int y, int worker) {
    int64_t* columns = scratch[worker].data();
    std::fill(columns, columns + size_t(n) * channels, 0);
    const int y0 = AreaStart(yEnds, y), y1 = yEnds[y];
    for (int sy = y0; sy < y1; ++sy) {
      const uint8_t* row = source.ScanLine(sy);
      for (int k = 0; k < n * channels; ++k) columns[k] += row[k];
    }
    uint8_t* out = target.ScanLine(y);
    for (int x = 0; x < target.Width; ++x) {
      const int x0 = AreaStart(xEnds, x), x1 = xEnds[x];
      const int64_t count = int64_t(x1 - x0) * (y1 - y0);
      for (int c = 0; c < channels; ++c) {
        int64_t sum = 0;
        for (int sx = x0; sx < x1; ++sx) sum += columns[sx * channels + c];
        out[x * channels + c] = static_cast<uint8_t>(DivRoundEven(sum, count));
      }
    }
  });
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
    for (int y = 0; y < height; ++y, position += yStep) rows[y] = std::min(static_cast<int>(position), source.Height - 1);
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
    const int length = out.Width * ps;
    ForEachRow(out.Height, length, true, [&](int y, int) {
      const uint8_t* a = source.ScanLine(2 * y);
      const uint8_t* b = source.ScanLine(2 * y + 1);
      uint8_t* o = out.ScanLine(y);
      for (int x = 0; x < out.Width; ++x, a += 2 * ps, b += 2 * ps, o += ps)
        for (int c = 0; c < ps; ++c) o[c] = static_cast<uint8_t>((a[c] + a[c + ps] + b[c] + b[c + ps] + 2) >> 2);
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
