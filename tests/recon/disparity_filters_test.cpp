#include "recon/disparity_filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
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

TEST(DisparityFilters, WindowsAtCornersEdgesAndInside) {
  // Fractions take the selection, whole numbers the sliding histogram.
  for (bool integers : {false, true}) {
    const TFloatMap original = RandomMap(23, 17, 1, integers);
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
  // At a corner an 11 x 11 window holds 6 x 6 values: the median is the 18th.
  const TFloatMap original = RandomMap(23, 17, 1, false);
  TFloatMap corner = original;
  MedianFilterMap(corner, 11);
  std::vector<double> values = Window(original, 0, 0, 11);
  ASSERT_EQ(values.size(), 36u);
  std::sort(values.begin(), values.end());
  EXPECT_EQ(*corner.PixelAddress(0, 0), values[17]);
}

TEST(DisparityFilters, ConstantsOutliersAndRepeats) {
  // A constant integral map stays exactly constant under both filters.
  TFloatMap constant(30, 20);
  std::fill(constant.Map, constant.Map + constant.Count, -7.0);
  MedianFilterMap(constant, 11);
  SmoothFilterMap(constant, 11);
  EXPECT_TRUE(std::all_of(constant.Map, constant.Map + constant.Count, [](double v) { return v == -7.0; }));

  // A single outlier: removed by the median, spread as a 3 x 3 square by the mean.
  TFloatMap outlier(9, 9);
  std::fill(outlier.Map, outlier.Map + outlier.Count, 2.0);
  *outlier.PixelAddress(4, 4) = 92.0;
  TFloatMap median = outlier, smooth = outlier;
  MedianFilterMap(median, 3);
  SmoothFilterMap(smooth, 3);
  EXPECT_TRUE(std::all_of(median.Map, median.Map + median.Count, [](double v) { return v == 2.0; }));
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x)
      EXPECT_EQ(*smooth.PixelAddress(x, y), std::abs(x - 4) <= 1 && std::abs(y - 4) <= 1 ? 12.0 : 2.0);

  TFloatMap any(3, 3);
  EXPECT_THROW(MedianFilterMap(any, 0), Exception);
}

}  // namespace
}  // namespace sq
