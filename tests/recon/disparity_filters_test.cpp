#include "recon/disparity_filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "base/exception.h"

namespace sq {
namespace {

TFloatMap RandomMap(int w, int h, uint32_t seed, bool integers) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> value(-40, 40);
  TFloatMap map(w, h);
  for (int64_t i = 0; i < map.Count; ++i) map.Map[i] = integers ? std::floor(value(random)) : value(random);
  return map;
}

// The window of (x, y) as the filters define it, gathered row by row.
std::vector<double> Window(const TFloatMap& map, int x, int y, int size) {
  const int lo = -(size / 2), hi = lo + size - 1;
  std::vector<double> values;
  for (int r = std::max(0, y + lo); r <= std::min(map.Height - 1, y + hi); ++r)
    for (int c = std::max(0, x + lo); c <= std::min(map.Width - 1, x + hi); ++c)
      values.push_back(*map.PixelAddress(c, r));
  return values;
}

TEST(SelectRank, FindsTheKthSmallest) {
  std::mt19937 random(5);
  for (int count : {1, 2, 3, 9, 36, 121}) {
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<double> values(static_cast<size_t>(count));
      // Few distinct values, so that ties are common.
      for (double& v : values) v = static_cast<double>(random() % 7);
      std::vector<double> sorted = values;
      std::sort(sorted.begin(), sorted.end());
      for (int rank = 0; rank <= count; ++rank) {
        std::vector<double> copy = values;
        EXPECT_EQ(SelectRank(copy.data(), count, rank), sorted[std::max(rank, 1) - 1]);
      }
    }
  }
}

// Whole numbers in flat steps with a few spikes, as computed disparities come:
// neighbouring columns mostly agree row for row.
TFloatMap SteppedMap(int w, int h, uint32_t seed) {
  std::mt19937 random(seed);
  TFloatMap map(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      *map.PixelAddress(x, y) = std::floor(x / 5.0) - std::floor(y / 7.0) + (random() % 9 == 0 ? 30 : 0);
  return map;
}

TEST(DisparityFilters, WindowsAtCornersEdgesAndInside) {
  // Fractions take the selection, whole numbers the sliding histogram.
  for (int kind : {0, 1, 2}) {
    const TFloatMap original = kind == 2 ? SteppedMap(23, 17, 3) : RandomMap(23, 17, 1, kind == 1);
    for (int size : {1, 2, 4, 11, 30}) {
      TFloatMap median = original, smooth = original;
      MedianFilterMap(median, size);
      SmoothFilterMap(smooth, size);
      for (int y = 0; y < original.Height; ++y)
        for (int x = 0; x < original.Width; ++x) {
          std::vector<double> values = Window(original, x, y, size);
          // Row by row, left to right, as a plain loop sums them.
          double sum = 0;
          for (double v : values) sum += v;
          const int k = static_cast<int>(values.size());
          std::sort(values.begin(), values.end());
          ASSERT_EQ(*median.PixelAddress(x, y), values[std::max(k / 2, 1) - 1]) << size << " " << x << "," << y;
          ASSERT_EQ(*smooth.PixelAddress(x, y), sum / k) << size << " " << x << "," << y;
        }
    }
  }
  // Every window position, the corners' 6 x 6 of size 11 among them, is checked
  // above; a size below 1 is refused.
  TFloatMap any(3, 3);
  EXPECT_THROW(MedianFilterMap(any, 0), Exception);
  // Infinities are no whole numbers of a histogram's range.
  for (double infinity : {HUGE_VAL, -HUGE_VAL}) {
    TFloatMap endless(4, 3);
    std::fill(endless.Map, endless.Map + endless.Count, infinity);
    MedianFilterMap(endless, 3);
    EXPECT_TRUE(std::all_of(endless.Map, endless.Map + endless.Count, [&](double v) { return v == infinity; }));
  }
}

}  // namespace
}  // namespace sq
