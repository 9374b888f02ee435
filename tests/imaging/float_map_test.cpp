#include "imaging/float_map.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/exception.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"

namespace sq {
namespace {

TEST(FloatMap, ConvertsToAndFromBitmaps) {
  TLinearBitmap grey(3, 2, pf8bit);
  for (int i = 0; i < 6; ++i) grey.Map[i] = static_cast<uint8_t>(i * 50);
  TFloatMap map;
  map.Assign(grey);
  ASSERT_EQ(map.Width, 3);
  ASSERT_EQ(map.Height, 2);
  EXPECT_EQ(map.Count, 6);
  EXPECT_EQ(map.Size, 48);
  EXPECT_EQ(*map.PixelAddress(2, 1), 250.0);

  // Halves go to even; values outside 0..255 are clamped.
  const double values[6] = {2.5, 3.5, -3, 300, 254.5, 0.49};
  std::memcpy(map.Map, values, sizeof values);
  TLinearBitmap colour(4, 4, pf24bit);  // not pf8bit: gets the grey palette
  map.AssignTo(colour);
  ASSERT_EQ(colour.PixelFormat, pf8bit);
  const uint8_t expected[6] = {2, 4, 0, 255, 254, 0};
  EXPECT_EQ(std::memcmp(colour.Map, expected, 6), 0);
  EXPECT_EQ(std::memcmp(colour.Palette, GrayPalette(), 768), 0);

  // A 24-bit source gives its grey level (2R + 3G + B) div 6.
  TLinearBitmap pixel(1, 1, pf24bit);
  pixel.Map[0] = 30, pixel.Map[1] = 20, pixel.Map[2] = 10;
  map.Assign(pixel);
  EXPECT_EQ(map.Map[0], 18.0);
}

TEST(FloatMap, CopiesClearsAndRefusesUnknownTargets) {
  TFloatMap a(4, 3);
  a.Clear();
  *a.PixelAddress(3, 2) = 7.25;
  EXPECT_EQ(a.ScanLine(2)[3], 7.25);
  TFloatMap b(a);
  EXPECT_EQ(b.Map[11], 7.25);
  *b.PixelAddress(3, 2) = 1;  // a copy: the original keeps its value
  EXPECT_EQ(*a.PixelAddress(3, 2), 7.25);

  b.SetSize(0, 5);
  EXPECT_EQ(b.Map, nullptr);
  EXPECT_EQ(b.Count, 0);

  TLinearBitmap empty;
  a.Assign(empty);
  EXPECT_EQ(a.Width, 0);

  TAssignObject other;
  EXPECT_THROW(a.AssignTo(other), EConvertError);
  TMemoryStream stream;
  try {
    a.SaveToStream(stream);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "TFloatMap.SaveToStream not implemented");
  }
}

}  // namespace
}  // namespace sq
