// Level histograms of 8-bit colour planes, the input of the tone-map library.
#pragma once

#include <array>
#include <cstdint>

#include "imaging/linear_bitmap.h"

namespace sq {

// 256 counts, one per level, and the number of samples counted.
// Keeps its established name, without the T prefix.
struct LevelHistogram {
  std::array<uint32_t, 256> Counts{};
  uint32_t Total = 0;
};

// Entry i is the output level of input level i.
// Keeps its established name, without the T prefix.
using ToneMap = std::array<uint8_t, 256>;

// Colour planes: 0, 1, 2 the blue, green and red bytes of a 24-bit pixel; 3 every
// byte (the three channels pooled, or the one byte of a pf8bit image).
constexpr int kPlaneBlue = 0;
constexpr int kPlaneGreen = 1;
constexpr int kPlaneRed = 2;
constexpr int kPlaneAll = 3;

// Inclusive rectangle for statistics.  Right and Bottom are clipped to the image; a
// negative Left or Top, or a rectangle narrower or lower than 3 pixels, means the
// whole image (so the default, empty rectangle does).
struct TStatisticsRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

struct THistogramStatistics {
  int Min = 255;  // lowest level with a non-zero count
  int Max = 0;    // highest
  double Mean = 0;
  double StdDev = 0;
};

struct TClipLevels {
  int Low = 0;
  int High = 255;
};

// pf8bit (any plane counts its byte), pf24bit and pf32bit (first three bytes).
LevelHistogram ComputeHistogram(const TLinearBitmap& bitmap, int plane, const TStatisticsRect& rect = {});

// The histogram of the image after map: count of map[i] += count of i.
LevelHistogram RemapHistogram(const LevelHistogram& histogram, const ToneMap& map);

// Mean and standard deviation are 0 for an empty histogram.
THistogramStatistics HistogramStatistics(const LevelHistogram& histogram);

// Low: the first level 0..254 where the count from the bottom exceeds threshold (0 if
// none); high: the first level from 255 down to low + 1 where the count from the top
// exceeds it (255 if none).
TClipLevels FindClipLevels(const LevelHistogram& histogram, uint32_t threshold);

}  // namespace sq
