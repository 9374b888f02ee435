#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "base/exception.h"
#include "base/parallel.h"
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

// Pairs anywhere in a 900 x 700 image, drawn from the caller's generator.
std::vector<PointPair> RandomPairs(std::mt19937& random, int count) {
  std::vector<PointPair> pairs;
  for (int i = 0; i < count; ++i)
    pairs.push_back({int(random() % 900), int(random() % 700), int(random() % 900), int(random() % 700)});
  return pairs;
}

TEST(WarpFit, NoPairsOrMatchingPairsKeepTheIdentity) {
  const TWarpFit none = FitWarpTransform({}, 640, 480);
  EXPECT_EQ(none.Transform, kIdentityTransform);
  EXPECT_EQ(PointErrorText(none.Cost), "Point error: 0.0");
  // The start already costs 0 and no move is strictly better.
  const std::vector<PointPair> same = {{10, 20, 10, 20}, {300, 40, 300, 40}, {50, 400, 50, 400}};
  const TWarpFit fit = FitWarpTransform(same, 640, 480);
  EXPECT_EQ(fit.Cost, 0.0);
  EXPECT_EQ(fit.Transform, kIdentityTransform);
}

TEST(WarpFit, RecoversAProjectiveTransformTheSameWayEveryTime) {
  const PointTransform truth = {0.98, 0.03, 12, -0.02, 1.01, -7, 1e-5, -2e-5, 1};
  std::vector<PointPair> pairs;
  std::mt19937 random(11);
  for (int i = 0; i < 20; ++i) {
    const int x2 = random() % 640, y2 = random() % 480;
    const TPointF p = TransformPoint(truth, x2, y2);
    pairs.push_back({static_cast<int>(std::nearbyint(p.X)), static_cast<int>(std::nearbyint(p.Y)), x2, y2});
  }
  const TWarpFit first = FitWarpTransform(pairs, 640, 480);
  // Partners rounded to whole pixels leave well under a pixel of error each.
  EXPECT_LT(first.Cost, 20 * 0.6);
  for (const PointPair& pair : pairs) EXPECT_NEAR(TransformPoint(first.Transform, pair.x2, pair.y2).Y, pair.y1, 1.0);
  // The generator is reseeded, so an advanced generator changes nothing.
  RandomSeed(12345);
  const TWarpFit second = FitWarpTransform(pairs, 640, 480);
  EXPECT_EQ(first.Cost, second.Cost);
  EXPECT_EQ(first.Transform, second.Transform);
}

TEST(WarpFit, CostIsThePlainSumOrTheFallback) {
  std::mt19937 random(21);
  const std::vector<PointPair> pairs = RandomPairs(random, 23);
  const TWarpFitContext context(pairs, 1000, 800);
  // The sum runs in pair order, to the last bit; translations are in image sizes.
  const double params[9] = {1.01, -0.013, 0.031, 0.007, 0.993, -0.017, 3e-5, -1e-5, 1.002};
  const PointTransform m = TransformFromParameters(params, 1000, 800);
  double sum = 0;
  for (const PointPair& p : pairs) {
    const double r = 1.0 / (p.x2 * m[6] + p.y2 * m[7] + m[8]);
    const double dx = (p.x2 * m[0] + p.y2 * m[1] + m[2]) * r - p.x1, dy = (p.x2 * m[3] + p.y2 * m[4] + m[5]) * r - p.y1;
    sum += 0.1 * (dx * dx) + dy * dy;
  }
  EXPECT_EQ(PointPairCost(context, params), sum);
  // Points at infinity (w = 0) and overflows cost the fallback.
  const double atInfinity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 0}, overflow[9] = {1e300, 0, 0, 0, 1e300, 0, 0, 0, 1};
  EXPECT_EQ(PointPairCost(context, atInfinity), kFailedCost);
  EXPECT_EQ(PointPairCost(context, overflow), kFailedCost);
  EXPECT_EQ(PointErrorText(1234.56789), "Point error: 1234.5679");
}

TEST(WarpFit, CostsOfTwoVectorsAreTheSingleCostsAndSteerTheSearchAlike) {
  std::mt19937 random(5);
  // 23 pairs: the last three take the path of the odd points out.
  const std::vector<PointPair> pairs = RandomPairs(random, 23);
  const TWarpFitContext context(pairs, 1000, 800);
  std::uniform_real_distribution<double> noise(-0.05, 0.05);
  std::vector<std::vector<double>> vectors = {{1, 0, 0, 0, 1, 0, 0, 0, 0}, {1e300, 0, 0, 0, 1e300, 0, 0, 0, 1}};
  for (int k = 0; k < 6; ++k) {
    std::vector<double> v(kIdentityTransform.begin(), kIdentityTransform.end());
    for (double& p : v) p += noise(random) * (k % 2 ? 1e-3 : 1.0);
    vectors.push_back(v);
  }
  for (const auto& a : vectors)
    for (const auto& b : vectors) {
      double costs[2];
      PointPairCosts(context, a, b, costs);
      EXPECT_EQ(costs[0], PointPairCost(context, a));
      EXPECT_EQ(costs[1], PointPairCost(context, b));
    }
  const TCostFunction one = [&](std::span<const double> p) { return PointPairCost(context, p); };
  const TCostFunctions both{one, [&](std::span<const double> a, std::span<const double> b, double costs[2]) {
                              PointPairCosts(context, a, b, costs);
                            }};
  std::vector<double> alone(kIdentityTransform.begin(), kIdentityTransform.end()), paired = alone;
  const double aloneCost = RestartMinimize(alone, one, 0.1, 30000, 0.0, 5, 0.3);
  EXPECT_EQ(RestartMinimize(paired, both, 0.1, 30000, 0.0, 5, 0.3), aloneCost);
  EXPECT_EQ(paired, alone);
}

TEST(PatternSearch, AStepKeepsTheBetterOfTwoImprovingDirectionsAndUpOnATie) {
  // From (0, 0): on x0 both steps improve and down more, on x1 both alike.  One
  // evaluation of budget still runs the first pattern move and the steps after it.
  const TCostFunction cost = [](std::span<const double> x) { return -(x[0] - 0.02) * (x[0] - 0.02) - x[1] * x[1]; };
  std::vector<double> x(2, 0.0);
  EXPECT_NEAR(PatternSearchMinimize(x, 0.1, 0.0, 1, kUnreachableCost, cost), -0.1024 - 0.09, 1e-12);
  EXPECT_NEAR(x[0], -0.3, 1e-12);
  EXPECT_NEAR(x[1], 0.3, 1e-12);
}

// The restarts one after the other, each from the best vector so far.
double RestartOneByOne(std::span<double> params, const TCostFunction& cost, int64_t budget, int runs, double spread) {
  RandomSeed(0);
  const int64_t runBudget = budget / runs;
  double best = PatternSearchMinimize(params, 0.1, 0.0, runBudget, kUnreachableCost, cost);
  std::vector<double> saved(params.size());
  for (int run = 1; run < runs; ++run) {
    std::copy(params.begin(), params.end(), saved.begin());
    for (double& p : params) p += RandomGaussian(0.0, spread);
    const double c = PatternSearchMinimize(params, 0.1, 0.0, runBudget, kUnreachableCost, cost);
    if (c < best)
      best = c;
    else
      std::copy(saved.begin(), saved.end(), params.begin());
  }
  return best;
}

TEST(RestartMinimize, RunsSideBySideGiveTheResultOfRunsOneByOne) {
  // A bumpy cost with many local minima, so that some restarts improve and others
  // do not, in every pattern.
  const TCostFunction bumpy = [](std::span<const double> x) {
    double sum = 0;
    for (size_t i = 0; i < x.size(); ++i)
      sum += (x[i] - 0.3 * double(i)) * (x[i] - 0.3 * double(i)) + std::sin(7 * x[i]);
    return sum;
  };
  for (int threads : {-1, 0})
    for (int runs = 1; runs <= 9; ++runs)
      for (double spread : {0.5, 3.0}) {
        LimitThreadStartsForTesting(threads);
        std::vector<double> a(5, 0.0), b(5, 0.0);
        const double expected = RestartOneByOne(a, bumpy, 4000, runs, spread);
        const double after = RandomUniform();
        const double got = RestartMinimize(b, bumpy, 0.1, 4000, 0.0, runs, spread);
        LimitThreadStartsForTesting(-1);
        EXPECT_EQ(got, expected) << runs;
        EXPECT_EQ(a, b) << runs;
        // The generator is left where the runs one by one leave it.
        EXPECT_EQ(RandomUniform(), after);
      }
}

TEST(WarpBitmap, IdentityDropsTheLastColumnAndRow) {
  for (TPixelFormat format : {pf24bit, pf8bit})
    for (bool crop : {false, true}) {
      const TLinearBitmap source = RandomBitmap(17, 11, format, 2);
      TLinearBitmap warped;
      TIntPoint origin{-1, -1};
      WarpBitmap(source, warped, kIdentityTransform, origin, kBackgroundColor, crop);
      ASSERT_EQ(warped.Width, 16);
      ASSERT_EQ(warped.Height, 10);
      EXPECT_EQ(origin.X + origin.Y, 0);
      EXPECT_EQ(warped.PixelFormat, format);
      for (int y = 0; y < 10; ++y)
        EXPECT_EQ(std::memcmp(warped.ScanLine(y), source.ScanLine(y), static_cast<size_t>(warped.BytesPerLine)), 0);
    }
}

TEST(WarpBitmap, QuarterTurnCopiesTheLastRowAndSkipsTheFirst) {
  // (x, y) -> (-y, x): destination pixel (x, y) samples source (y, h - 1 - x),
  // reaching the last source row (copied) but not the first row or last column.
  const TLinearBitmap source = RandomBitmap(7, 5, pf24bit, 3);
  for (bool crop : {false, true}) {
    TLinearBitmap warped;
    TIntPoint origin;
    WarpBitmap(source, warped, {0, -1, 0, 1, 0, 0, 0, 0, 1}, origin, kBackgroundColor, crop);
    ASSERT_EQ(warped.Width, 4);
    ASSERT_EQ(warped.Height, 6);
    EXPECT_EQ(origin.X, -4);
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
  const uint8_t* half = warped.PixelAddress(1, 0);
  EXPECT_EQ(half[0], 10);   // 10.5
  EXPECT_EQ(half[1], 12);   // 11.5
  EXPECT_EQ(half[2], 128);  // 127.5
}

TEST(WarpBitmap, FormatsAndLimits) {
  TLinearBitmap warped;
  TIntPoint origin;
  // 16-bit grey is resampled as 24-bit; colour palettes and 32-bit are refused.
  WarpBitmap(RandomBitmap(6, 6, pf16bit, 4), warped, kIdentityTransform, origin, kBackgroundColor, true);
  EXPECT_EQ(warped.PixelFormat, pf24bit);
  TLinearBitmap palette = RandomBitmap(6, 6, pf8bit, 5);
  palette.Palette[0] = 1;
  EXPECT_THROW(WarpBitmap(palette, warped, kIdentityTransform, origin, kBackgroundColor, true), ELinearBitmap);
  EXPECT_THROW(WarpBitmap(RandomBitmap(6, 6, pf32bit, 6), warped, kIdentityTransform, origin, kBackgroundColor, true),
               ELinearBitmap);
  // 10 x (700 - 1) = 6990 pixels wide; a singular transform has no inverse.
  try {
    WarpBitmap(RandomBitmap(700, 2, pf8bit, 7), warped, {10, 0, 0, 0, 1, 0, 0, 0, 1}, origin, kBackgroundColor, false);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Invalid transformation");
  }
  EXPECT_THROW(
      WarpBitmap(RandomBitmap(6, 6, pf24bit, 8), warped, {1, 2, 3, 2, 4, 6, 0, 0, 1}, origin, kBackgroundColor, false),
      EZeroDivide);
  // A destination crossed by the inverse's line at infinity is filled, not failed.
  WarpBitmap(RandomBitmap(40, 40, pf24bit, 8), warped, {1, 0, 0, 0, 1, 0, 0.02, 0, 1}, origin, kBackgroundColor, false);
  EXPECT_TRUE(warped.Present);
}

TEST(CommonArea, CropsBothImagesToTheSharedRectangle) {
  const TLinearBitmap image1 = RandomBitmap(100, 30, pf24bit, 9);
  TLinearBitmap warped = RandomBitmap(50, 40, pf24bit, 10);
  const TLinearBitmap copy = warped;
  TLinearBitmap result1, result2;
  const TCommonArea area = CropToCommonArea(image1, warped, {10, -5}, kBackgroundColor, result1, result2);
  EXPECT_EQ(std::tie(area.Left, area.Top, area.Width, area.Height), std::make_tuple(10, 0, 50, 30));
  ASSERT_EQ(result1.Width, 50);
  ASSERT_EQ(result2.Height, 30);
  EXPECT_EQ(std::memcmp(result1.PixelAddress(0, 3), image1.PixelAddress(10, 3), 150), 0);
  EXPECT_EQ(std::memcmp(result2.PixelAddress(0, 3), copy.PixelAddress(0, 8), 150), 0);
  // No overlap: a clear error and the results stay as they were.
  TLinearBitmap far = RandomBitmap(5, 5, pf24bit, 11);
  EXPECT_THROW(CropToCommonArea(image1, far, {100, 0}, kBackgroundColor, result1, result2), Exception);
  EXPECT_EQ(result1.Width, 50);
}

}  // namespace
}  // namespace sq
