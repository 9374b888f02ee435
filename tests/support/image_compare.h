// Comparing pictures: both are taken as 24-bit, whatever their pixel formats.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "imaging/linear_bitmap.h"

namespace sq::test {

// The mean absolute difference per byte of the two pictures' pixel data.
inline double MeanError(TLinearBitmap a, TLinearBitmap b) {
  a.SetPixelFormat(pf24bit);
  b.SetPixelFormat(pf24bit);
  EXPECT_EQ(a.Width, b.Width);
  EXPECT_EQ(a.Height, b.Height);
  if (a.Size != b.Size) return 255;
  double sum = 0;
  for (int64_t i = 0; i < a.Size; ++i) sum += std::abs(a.Map[i] - b.Map[i]);
  return a.Size > 0 ? sum / static_cast<double>(a.Size) : 0;
}

// The pixels as 24-bit bytes, for exact comparisons.
inline std::vector<uint8_t> As24(TLinearBitmap bitmap) {
  bitmap.SetPixelFormat(pf24bit);
  return {bitmap.Map, bitmap.Map + bitmap.Size};
}

}  // namespace sq::test
