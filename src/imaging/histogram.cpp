#include "imaging/histogram.h"

#include <algorithm>
#include <cmath>

#include "base/exception.h"

namespace sq {

LevelHistogram ComputeHistogram(const TLinearBitmap& bitmap, int plane, const TStatisticsRect& rect) {
  LevelHistogram histogram;
  if (!bitmap.Present) return histogram;
  if (bitmap.PixelFormat != pf8bit && bitmap.PixelFormat != pf24bit && bitmap.PixelFormat != pf32bit)
    throw ELinearBitmap("Unsupported pixel format");
  if (plane < 0 || plane > kPlaneAll) throw ELinearBitmap("Invalid color plane");

  int left = rect.Left, top = rect.Top;
  int right = std::min(rect.Right, bitmap.Width - 1), bottom = std::min(rect.Bottom, bitmap.Height - 1);
  if (left < 0 || top < 0 || right - left < 2 || bottom - top < 2) {
    left = top = 0;
    right = bitmap.Width - 1;
    bottom = bitmap.Height - 1;
  }
  const int step = bitmap.PixelSize;
  const bool single = bitmap.PixelFormat == pf8bit;
  // Four partial tables break the store-to-load chain on runs of one level.
  std::array<std::array<uint32_t, 256>, 4> parts{};
  for (int y = top; y <= bottom; ++y) {
    const uint8_t* p = bitmap.PixelAddress(left, y);
    const int count = right - left + 1;
    if (single) {
      int x = 0;
      for (; x + 4 <= count; x += 4) {
        ++parts[0][p[x]];
        ++parts[1][p[x + 1]];
        ++parts[2][p[x + 2]];
        ++parts[3][p[x + 3]];
      }
      for (; x < count; ++x) ++parts[0][p[x]];
    } else if (plane == kPlaneAll) {
      for (int x = 0; x < count; ++x, p += step) {
        ++parts[0][p[0]];
        ++parts[1][p[1]];
        ++parts[2][p[2]];
      }
    } else {
      for (int x = 0; x < count; ++x, p += step) ++parts[x & 3][p[plane]];
    }
  }
  for (int i = 0; i < 256; ++i) {
    histogram.Counts[i] = parts[0][i] + parts[1][i] + parts[2][i] + parts[3][i];
    histogram.Total += histogram.Counts[i];
  }
  return histogram;
}

LevelHistogram RemapHistogram(const LevelHistogram& histogram, const ToneMap& map) {
  LevelHistogram result;
  for (int i = 0; i < 256; ++i) result.Counts[map[i]] += histogram.Counts[i];
  result.Total = histogram.Total;
  return result;
}

THistogramStatistics HistogramStatistics(const LevelHistogram& histogram) {
  THistogramStatistics stats;
  double sum = 0, squares = 0, total = 0;
  for (int i = 0; i < 256; ++i) {
    const double n = histogram.Counts[i];
    if (n == 0) continue;
    stats.Min = std::min(stats.Min, i);
    stats.Max = std::max(stats.Max, i);
    sum += i * n;
    squares += double(i) * i * n;
    total += n;
  }
  if (total > 0) {
    stats.Mean = sum / total;
    stats.StdDev = std::sqrt(std::max(0.0, squares / total - stats.Mean * stats.Mean));
  }
  return stats;
}

TClipLevels FindClipLevels(const LevelHistogram& histogram, uint32_t threshold) {
  TClipLevels levels;
  uint64_t sum = 0;
  for (int v = 0; v <= 254; ++v) {
    sum += histogram.Counts[v];
    if (sum > threshold) {
      levels.Low = v;
      break;
    }
  }
  sum = 0;
  for (int v = 255; v >= levels.Low + 1; --v) {
    sum += histogram.Counts[v];
    if (sum > threshold) {
      levels.High = v;
      break;
    }
  }
  return levels;
}

}  // namespace sq
