#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "base/exception.h"
#include "base/random.h"
#include "recon/pattern_search.h"
#include "recon/point_transform.h"
#include "recon/warp_bitmap.h"
#include "recon/warp_fit.h"

namespace sq {
namespace {

TLinearBitmap RandomBitmap(int w, int h, TPixelFormat format, uint32_t seed) {
  TLinearBitmap b(w, h, format);
  if (format == pf8bit) std::memcpy(b.Palette, GrayPalette(), 768);
  std::mt19937 random(seed);
  for (int64_t i = 0; i < b.Size; ++i) b.Map[i] = static_cast<uint8_t>(random());
  return b;
}

bool SamePixels(const TLinearBitmap& a, const TLinearBitmap& b) {
  return a.Width == b.Width && a.Height == b.Height && a.PixelFormat == b.PixelFormat &&
         std::memcmp(a.Map, b.Map, static_cast<size_t>(a.Size)) == 0;
}

TEST(WarpFit, NoPairsOrMatchingPairsKeepTheIdentity) {
  const TWarpFit none = FitWarpTransform({}, 640, 480);
  EXPECT_EQ(none.Cost, 0.0);
  EXPECT_EQ(none.Transform, kIdentityTransform);
  EXPECT_EQ(PointErrorText(none.Cost), "Point error: 0.0");

  // The start already costs 0 and no move is strictly better.
  const std::vector<PointPair> same = {{10, 20, 10, 20}, {300, 40, 300, 40}, {50, 400, 50, 400}, {600, 450, 600, 450}};
  const TWarpFit fit = FitWarpTransform(same, 640, 480);
  EXPECT_EQ(fit.Cost, 0.0);
  EXPECT_EQ(fit.Transform, kIdentityTransform);
}

TEST(WarpFit, RecoversAProjectiveTransformTheSameWayEveryTime) {
  // Image-2 points mapped through a known transform give their image-1 partners.
  const PointTransform truth = {0.98, 0.03, 12, -0.02, 1.01, -7, 1e-5, -2e-5, 1};
  std::vector<PointPair> pairs;
  std::mt19937 random(11);
  for (int i = 0; i < 20; ++i) {
    const int x2 = random() % 640, y2 = random() % 480;
    const TPointF p = TransformPoint(truth, x2, y2);
    pairs.push_back({static_cast<int>(std::nearbyint(p.X)), static_cast<int>(std::nearbyint(p.Y)), x2, y2});
  }
  const TWarpFit first = FitWarpTransform(pairs, 640, 480);
  // Rounding the partners to whole pixels leaves at most a pixel of error each.
  EXPECT_LT(first.Cost, 20 * 0.6);
  for (const PointPair& pair : pairs) {
    const TPointF p = TransformPoint(first.Transform, pair.x2, pair.y2);
    EXPECT_NEAR(p.Y, pair.y1, 1.0);
    EXPECT_NEAR(p.X, pair.x1, 3.0);
  }
  // The generator is reseeded, so an advanced generator changes nothing.
  RandomSeed(12345);
  RandomUniform();
  const TWarpFit second = FitWarpTransform(pairs, 640, 480);
  EXPECT_EQ(first.Cost, second.Cost);
  EXPECT_EQ(first.Transform, second.Transform);
}

TEST(WarpFit, FailedEvaluationsCostTheFallback) {
  const std::vector<PointPair> pairs = {{1, 2, 3, 4}};
  const TWarpFitContext context(pairs, 100, 100);
  // w = 0 for every point.
  const double atInfinity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(PointPairCost(context, atInfinity), kFailedCost);
  const double overflow[9] = {1e300, 0, 0, 0, 1e300, 0, 0, 0, 1};
  EXPECT_EQ(PointPairCost(context, overflow), kFailedCost);
  // 0.1 * (3 - 1)^2 + (4 - 2)^2; the translation is in units of the image size.
  const double shift[9] = {1, 0, 0, 0, 1, 0.02, 0, 0, 1};
  EXPECT_DOUBLE_EQ(PointPairCost(context, shift), 0.1 * 4 + 16);
  EXPECT_EQ(PointErrorText(1234.56789), "Point error: 1234.5679");

  // The cost is the plain sum in pair order, to the last bit.
  std::vector<PointPair> many;
  std::mt19937 random(21);
  for (int i = 0; i < 23; ++i)
    many.push_back({int(random() % 900), int(random() % 700), int(random() % 900), int(random() % 700)});
  const TWarpFitContext wide(many, 1000, 800);
  const double params[9] = {1.01, -0.013, 0.031, 0.007, 0.993, -0.017, 3e-5, -1e-5, 1.002};
  const PointTransform m = TransformFromParameters(params, 1000, 800);
  double sum = 0;
  for (const PointPair& p : many) {
    const double r = 1.0 / (p.x2 * m[6] + p.y2 * m[7] + m[8]);
    const double dx = (p.x2 * m[0] + p.y2 * m[1] + m[2]) * r - p.x1, dy = (p.x2 * m[3] + p.y2 * m[4] + m[5]) * r - p.y1;
    sum += 0.1 * (dx * dx) + dy * dy;
  }
  EXPECT_EQ(PointPairCost(wide, params), sum);
  EXPECT_EQ(PointErrorText(0.5), "Point error: 0.5");
}

TEST(PointTransform, InverseAndFailures) {
  PointTransform m = {0.98, 0.03, 12, -0.02, 1.01, -7, 1e-5, -2e-5, 1};
  PointTransform inverse = m;
  InvertTransform(inverse);
  const TPointF p = TransformPoint(m, 123, 45);
  const TPointF back = TransformPoint(inverse, p.X, p.Y);
  EXPECT_NEAR(back.X, 123, 1e-9);
  EXPECT_NEAR(back.Y, 45, 1e-9);
  PointTransform singular = {1, 2, 3, 2, 4, 6, 0, 0, 1};
  EXPECT_THROW(InvertTransform(singular), EZeroDivide);
  EXPECT_THROW(TransformPoint({1, 0, 0, 0, 1, 0, 1, 0, 0}, 0, 5), EZeroDivide);
}

TEST(WarpBitmap, IdentityDropsTheLastColumnAndRow) {
  for (TPixelFormat format : {pf24bit, pf8bit}) {
    const TLinearBitmap source = RandomBitmap(17, 11, format, 2);
    for (bool crop : {false, true}) {
      TLinearBitmap warped;
      TIntPoint origin{-1, -1};
      WarpBitmap(source, warped, kIdentityTransform, origin, kBackgroundColor, crop);
      ASSERT_EQ(warped.Width, 16);
      ASSERT_EQ(warped.Height, 10);
      EXPECT_EQ(origin.X, 0);
      EXPECT_EQ(origin.Y, 0);
      EXPECT_EQ(warped.PixelFormat, format);
      for (int y = 0; y < 10; ++y)
        EXPECT_EQ(std::memcmp(warped.ScanLine(y), source.ScanLine(y), static_cast<size_t>(warped.BytesPerLine)), 0);
    }
  }
}

TEST(WarpBitmap, QuarterTurnCopiesTheLastRowAndSkipsTheFirst) {
  // (x, y) -> (-y, x): the box is x in [-(h - 1), 0], y in [0, w - 1]; destination
  // pixel (x, y) samples source (y, h - 1 - x), reaching the last source row
  // (copied) but never the first row or the last column.
  const TLinearBitmap source = RandomBitmap(7, 5, pf24bit, 3);
  const PointTransform turn = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  for (bool crop : {false, true}) {
    TLinearBitmap warped;
    TIntPoint origin;
    WarpBitmap(source, warped, turn, origin, kBackgroundColor, crop);
    ASSERT_EQ(warped.Width, 4);
    ASSERT_EQ(warped.Height, 6);
    EXPECT_EQ(origin.X, -4);
    EXPECT_EQ(origin.Y, 0);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 4; ++x)
        EXPECT_EQ(std::memcmp(warped.PixelAddress(x, y), source.PixelAddress(y, 4 - x), 3), 0) << x << "," << y;
  }
}

TEST(WarpBitmap, BilinearSamplesRoundHalvesToEven) {
  // Doubling the size puts destination pixel 1 halfway between source pixels.
  TLinearBitmap source(2, 2, pf24bit);
  const uint8_t pixels[12] = {10, 10, 0, 11, 13, 255, 10, 10, 0, 11, 13, 255};
  std::memcpy(source.Map, pixels, 12);
  TLinearBitmap warped;
  TIntPoint origin;
  WarpBitmap(source, warped, {2, 0, 0, 0, 2, 0, 0, 0, 1}, origin, kBackgroundColor, false);
  ASSERT_EQ(warped.Width, 2);
  const uint8_t* half = warped.PixelAddress(1, 0);
  EXPECT_EQ(half[0], 10);   // 10.5
  EXPECT_EQ(half[1], 12);   // 11.5
  EXPECT_EQ(half[2], 128);  // 127.5
}

TEST(WarpBitmap, FormatsAndLimits) {
  TLinearBitmap warped;
  TIntPoint origin;
  // 16-bit grey is resampled as 24-bit; colour palettes and 32-bit are refused.
  TLinearBitmap grey16 = RandomBitmap(6, 6, pf16bit, 4);
  WarpBitmap(grey16, warped, kIdentityTransform, origin, kBackgroundColor, true);
  EXPECT_EQ(warped.PixelFormat, pf24bit);
  TLinearBitmap palette = RandomBitmap(6, 6, pf8bit, 5);
  palette.Palette[0] = 1;
  EXPECT_THROW(WarpBitmap(palette, warped, kIdentityTransform, origin, kBackgroundColor, true), ELinearBitmap);
  EXPECT_THROW(WarpBitmap(RandomBitmap(6, 6, pf32bit, 6), warped, kIdentityTransform, origin, kBackgroundColor, true),
               ELinearBitmap);
  // 10 x (700 - 1) = 6990 pixels wide.
  const TLinearBitmap wide = RandomBitmap(700, 2, pf8bit, 7);
  try {
    WarpBitmap(wide, warped, {10, 0, 0, 0, 1, 0, 0, 0, 1}, origin, kBackgroundColor, false);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid transformation");
  }
  // A destination crossed by the inverse's line at infinity is filled, not failed.
  WarpBitmap(RandomBitmap(40, 40, pf24bit, 8), warped, {1, 0, 0, 0, 1, 0, 0.02, 0, 1}, origin, kBackgroundColor, false);
  EXPECT_TRUE(warped.Present);
}

TEST(CommonArea, CropsBothImagesToTheSharedRectangle) {
  const TLinearBitmap image1 = RandomBitmap(100, 30, pf24bit, 9);
  TLinearBitmap warped = RandomBitmap(50, 40, pf24bit, 10);
  const TLinearBitmap warpedCopy = warped;
  TLinearBitmap result1, result2;
  const TCommonArea area = CropToCommonArea(image1, warped, {10, -5}, kBackgroundColor, result1, result2);
  EXPECT_EQ(area.Left, 10);
  EXPECT_EQ(area.Top, 0);
  EXPECT_EQ(area.Width, 50);
  EXPECT_EQ(area.Height, 30);
  ASSERT_EQ(result1.Width, 50);
  ASSERT_EQ(result2.Height, 30);
  EXPECT_EQ(std::memcmp(result1.PixelAddress(0, 3), image1.PixelAddress(10, 3), 150), 0);
  EXPECT_EQ(std::memcmp(result2.PixelAddress(0, 3), warpedCopy.PixelAddress(0, 8), 150), 0);

  // No overlap: a clear error and the results stay as they were.
  TLinearBitmap far = RandomBitmap(5, 5, pf24bit, 11);
  EXPECT_THROW(CropToCommonArea(image1, far, {100, 0}, kBackgroundColor, result1, result2), Exception);
  EXPECT_EQ(result1.Width, 50);
  EXPECT_TRUE(SamePixels(far, RandomBitmap(5, 5, pf24bit, 11)));
}

}  // namespace
}  // namespace sq
