#include "imaging/ops/tone_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "base/exception.h"
#include "imaging/ops/auto_color.h"
#include "imaging/ops/tone_map_expression.h"
#include "imaging/ops/tone_map_mapper.h"
#include "imaging/ops/tone_map_ycbcr.h"

namespace sq {
namespace {

LevelHistogram Histogram(std::initializer_list<std::pair<int, uint32_t>> counts) {
  LevelHistogram h;
  for (auto [level, count] : counts) {
    h.Counts[level] += count;
    h.Total += count;
  }
  return h;
}

LevelHistogram Flat() {
  LevelHistogram h;
  h.Counts.fill(100);
  h.Total = 25600;
  return h;
}

TEST(ToneMap, ClipLevelsAndLevelsMap) {
  // All samples at one level v < 255: (v, 255), and the levels map sends v to 0.
  const TClipLevels one = FindClipLevels(Histogram({{100, 5000}}), 0);
  EXPECT_EQ(one.Low, 100);
  EXPECT_EQ(one.High, 255);
  EXPECT_EQ(MakeLevelsMap(one.Low, one.High)[100], 0);
  const TClipLevels top = FindClipLevels(Histogram({{255, 5000}}), 0);
  EXPECT_EQ(top.Low, 0);
  EXPECT_EQ(top.High, 255);
  EXPECT_EQ(MakeLevelsMap(0, 255), IdentityMap());

  // Fewer samples than the threshold at the extremes are clipped: the stretch runs.
  LevelHistogram wide = Flat();
  wide.Counts[0] = wide.Counts[255] = 1;
  const TClipLevels clipped = FindClipLevels(wide, ClipThreshold(wide));
  EXPECT_EQ(clipped.Low, 1);
  EXPECT_EQ(clipped.High, 254);

  ToneMap map = IdentityMap();
  MakeLevelsMap(map, 10, 12);
  EXPECT_EQ(map[9], 0);
  EXPECT_EQ(map[11], 128);  // 127.5 to even
  EXPECT_EQ(map[12], 255);
  map = IdentityMap();
  MakeLevelsMap(map, 200, 100);  // only the fills; the 255 fill wins
  EXPECT_EQ(map[150], 255);
  EXPECT_EQ(map[99], 0);
}

TEST(ToneMap, PresetMaps) {
  EXPECT_EQ(MakeGammaMap(1.0), IdentityMap());
  EXPECT_EQ(MakeGammaMap(2.0)[64], 128);  // 255 * sqrt(64 / 255) = 127.75
  const ToneMap quantizer = MakeQuantizerMap(2);
  EXPECT_EQ(quantizer[127], 0);
  EXPECT_EQ(quantizer[128], 255);
  EXPECT_EQ(MakeQuantizerMap(256), IdentityMap());
  EXPECT_EQ(MakeThresholdMap(100)[100], 0);
  EXPECT_EQ(MakeThresholdMap(100)[101], 255);
  EXPECT_EQ(MakeThresholdMap(-100)[101], 0);
  EXPECT_EQ(MakeThresholdMap(-100)[100], 255);
  const ToneMap zero = MakeZeroPointMap(127);
  EXPECT_EQ(zero[0], 255);
  EXPECT_EQ(zero[127], 0);
  EXPECT_EQ(zero[255], 255);

  // Collinear control points draw the identity; other points pass through their ends.
  ToneMap curve{};
  DrawCurveThroughPoints(curve, MakeBrightnessContrastPoints(0, 0));
  EXPECT_EQ(curve, IdentityMap());
  curve = {};
  DrawCurveThroughPoints(curve, DefaultCurvePoints());
  EXPECT_EQ(curve, IdentityMap());
  curve = IdentityMap();
  DrawCurveThroughPoints(curve, MakeBrightnessContrastPoints(30, 90));
  EXPECT_EQ(curve[0], 0);  // first point (-30, 0) lies outside: its curve reaches 0 here
  EXPECT_EQ(curve[225], 255);
  for (int i = 1; i < 256; ++i) EXPECT_GE(curve[i] + 2, curve[i - 1]) << i;

  ToneMap smooth = IdentityMap();
  SmoothMap(smooth);
  EXPECT_EQ(smooth, IdentityMap());
  smooth = MakeThresholdMap(127);
  SmoothMap(smooth);
  EXPECT_EQ(smooth[127], 63);
  EXPECT_EQ(smooth[128], 207);  // (63 + 510 + 255) div 4, already seeing the new left value

  ToneMap a = MakeThresholdMap(10);
  ComposeMaps(a, MakeThresholdMap(-128));  // then invert
  EXPECT_EQ(a[5], 255);
  EXPECT_EQ(a[11], 0);
}

TEST(ToneMap, EqualizationAndGammaEstimate) {
  const ToneMap flat = MakeEqualizationMap(Flat(), 256);
  for (int i = 0; i < 256; ++i) EXPECT_NEAR(flat[i], i, 2) << i;
  EXPECT_EQ(MakeEqualizationMap(LevelHistogram{}, 256), IdentityMap());
  EXPECT_NEAR(EstimateGamma(Flat()), 1.0, 0.05);

  std::mt19937 random(5);
  for (int trial = 0; trial < 20; ++trial) {
    LevelHistogram h;
    const int centre = static_cast<int>(random() % 256), spread = 1 + static_cast<int>(random() % 60);
    for (int i = 0; i < 1000; ++i) {
      const int level = std::clamp(centre + static_cast<int>(random() % (2 * spread)) - spread, 0, 255);
      ++h.Counts[level];
      ++h.Total;
    }
    const double gamma = EstimateGamma(h);
    EXPECT_GE(gamma, 0.6);
    EXPECT_LE(gamma, 2.5);
  }
  // Dark images want a gamma above 1, bright ones below.
  EXPECT_GT(EstimateGamma(Histogram({{20, 500}, {60, 300}, {200, 10}})), 1.5);
  EXPECT_LT(EstimateGamma(Histogram({{20, 10}, {200, 300}, {240, 500}})), 0.8);
}

TEST(ToneMap, HistogramsAndApplication) {
  TLinearBitmap image(4, 4, pf24bit);
  for (int64_t i = 0; i < image.Size; ++i) image.Map[i] = static_cast<uint8_t>(i % 3 == 2 ? 200 : i);
  const LevelHistogram all = ComputeHistogram(image, kPlaneAll);
  EXPECT_EQ(all.Total, 48u);
  const LevelHistogram red = ComputeHistogram(image, kPlaneRed);
  EXPECT_EQ(red.Counts[200], 16u);
  // A 3 x 3 rectangle is used; a 2-pixel-wide one means the whole image.
  EXPECT_EQ(ComputeHistogram(image, kPlaneRed, {1, 1, 3, 3}).Total, 9u);
  EXPECT_EQ(ComputeHistogram(image, kPlaneRed, {1, 1, 2, 3}).Total, 16u);

  const THistogramStatistics stats = HistogramStatistics(Histogram({{10, 1}, {30, 1}}));
  EXPECT_EQ(stats.Min, 10);
  EXPECT_EQ(stats.Max, 30);
  EXPECT_DOUBLE_EQ(stats.Mean, 20);
  EXPECT_DOUBLE_EQ(stats.StdDev, 10);
  EXPECT_EQ(HistogramStatistics(LevelHistogram{}).Min, 255);
  EXPECT_EQ(RemapHistogram(Histogram({{10, 3}, {11, 4}}), MakeThresholdMap(5)).Counts[255], 7u);

  TLinearBitmap mapped(image);
  ApplyToneMap(MakeThresholdMap(-300), mapped, kPlaneGreen);  // every level to 255
  for (int64_t i = 0; i < mapped.Size; ++i) EXPECT_EQ(mapped.Map[i], i % 3 == 1 ? 255 : image.Map[i]);

  // Gamma 1 and saturation 1 leave pixels alone; saturation 0 leaves the grey level.
  TLinearBitmap same(image);
  GammaSaturate(same, 1, 1, 1, 1);
  EXPECT_EQ(std::memcmp(same.Map, image.Map, size_t(image.Size)), 0);
  GammaSaturate(same, 0, 0, 1, 0);
  EXPECT_EQ(same.Map[0], same.Map[1]);
  EXPECT_EQ(same.Map[1], same.Map[2]);
}

TEST(ToneMap, YCbCrRoundTrip) {
  TLinearBitmap image(64, 4, pf24bit);
  std::mt19937 random(9);
  for (int64_t i = 0; i < image.Size; ++i) image.Map[i] = static_cast<uint8_t>(random());
  TLinearBitmap y, cb, cr, back;
  SplitYCbCr(image, y, cb, cr);
  MergeYCbCr(y, cb, cr, back);
  for (int64_t i = 0; i < image.Size; ++i) ASSERT_NEAR(back.Map[i], image.Map[i], 2) << i;
  const double(&inverse)[3][4] = YCbCrInverse();
  EXPECT_NEAR(inverse[0][2], 1.402, 1e-3);  // R from Cr
  EXPECT_NEAR(inverse[2][1], 1.772, 1e-3);  // B from Cb
}

TEST(AutoColorCorrect, StretchesAndCorrectsInEveryMode) {
  // A constant 8-bit image: its one level is the black point.
  TLinearBitmap flat(10, 10, pf8bit);
  std::memcpy(flat.Palette, GrayPalette(), 768);
  flat.Clear(100);
  AutoColorCorrect(flat, {}, TAutoColorMode::Saturation);
  EXPECT_EQ(flat.Map[55], 0);

  // A dull 24-bit image (levels 60..160) spans nearly 0..255 afterwards.
  TLinearBitmap dull(64, 64, pf24bit);
  std::mt19937 random(2);
  for (int64_t i = 0; i < dull.Size; ++i) dull.Map[i] = static_cast<uint8_t>(60 + random() % 101);
  for (TAutoColorMode mode : {TAutoColorMode::Saturation, TAutoColorMode::RGBSplit, TAutoColorMode::Luminance}) {
    TLinearBitmap image(dull);
    AutoColorCorrect(image, {}, mode);
    const THistogramStatistics stats = HistogramStatistics(ComputeHistogram(image, kPlaneAll));
    EXPECT_LT(stats.Min, 20) << static_cast<int>(mode);
    EXPECT_GT(stats.Max, 235) << static_cast<int>(mode);
  }
  TLinearBitmap wide(2, 2, pf16bit);
  EXPECT_THROW(AutoColorCorrect(wide, {}, TAutoColorMode::Saturation), ELinearBitmap);
}

TEST(ToneMap, ExpressionPreset) {
  LevelHistogram h = Flat();
  h.Counts[3] = 5000;
  h.Total += 4900;
  const ToneMap equalized = MakeExpressionMap(kDefaultMapExpression, h);
  const ToneMap reference = MakeEqualizationMap(h, 256);
  for (int i = 1; i < 255; ++i) EXPECT_NEAR(equalized[i], reference[i], 3) << i;
  EXPECT_EQ(MakeExpressionMap("x", h), IdentityMap());
  EXPECT_EQ(MakeExpressionMap("x-0.5", h, true)[0], 0);  // negative
  EXPECT_EQ(MakeExpressionMap("x*3", h, false)[100], 255);
  EXPECT_THROW(MakeExpressionMap("x+*", h), EExpressionError);
}

TEST(ColorMapper, PresetsAndEditing) {
  TColorMapperState mapper;
  mapper.ApplyPreset(cpThreshold, 127, 0, Flat());
  EXPECT_EQ(mapper.CurrentMap(), MakeThresholdMap(127));
  EXPECT_TRUE(mapper.Points().empty());
  EXPECT_THROW(PresetInfo(cpPresetCount), Exception);

  // Switching from All to a channel copies the All map into the channel maps.
  mapper.SelectPlane(mpGreen);
  EXPECT_EQ(mapper.Map(mpBlue), MakeThresholdMap(127));

  // Freehand: a press sets one entry, a drag draws the straight line from it.
  mapper.ApplyPreset(cpGamma, 1, 0, Flat());
  mapper.Press(10, 100);
  mapper.Drag(14, 103);  // 100 + 3 * (i - 10) / 4: 100.75, 101.5, 102.25
  const uint8_t line[5] = {100, 101, 102, 102, 103};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(mapper.CurrentMap()[10 + i], line[i]) << i;

  // Control points: a press near a point picks it; elsewhere a new point is added
  // before the last; the picked point follows the pointer and keeps the list ordered.
  mapper.ApplyPreset(cpDefineCurve, 0, 0, Flat());
  ASSERT_EQ(mapper.Points().size(), 5u);
  mapper.Press(66, 70);
  EXPECT_EQ(mapper.Picked(), 1);
  EXPECT_EQ(mapper.Points()[1].Y, 70);
  EXPECT_EQ(mapper.CurrentMap()[66], 70);
  EXPECT_FALSE(mapper.DeletePicked());  // five points is the minimum
  mapper.Press(240, 10);
  ASSERT_EQ(mapper.Points().size(), 6u);
  EXPECT_EQ(mapper.Picked(), 4);
  mapper.Drag(100, 10);  // moves left past (127, 127)
  EXPECT_EQ(mapper.Picked(), 2);
  EXPECT_EQ(mapper.Points()[2].X, 100);
  EXPECT_TRUE(mapper.DeletePicked());
  EXPECT_EQ(mapper.Points().size(), 5u);

  double p1 = 0, p2 = 0;
  EXPECT_TRUE(TColorMapperState::AutoParameters(cpBlackWhitePoint, Histogram({{40, 99}, {90, 99}}), p1, p2));
  EXPECT_EQ(p1, 40);
  EXPECT_EQ(p2, 90);
  EXPECT_EQ(HistogramStatisticsText(Histogram({{10, 1}, {30, 1}})), "Mean: 20.00  Std dev: 10.00  Min: 10  Max: 30");
  EXPECT_EQ(HistogramBarHeight(25, 100, 200, true), 100);
}

TEST(ColorMapper, LuminancePreviewKeepsChroma) {
  TLinearBitmap base(8, 8, pf24bit);
  for (int64_t i = 0; i < base.Size; ++i) base.Map[i] = static_cast<uint8_t>(40 + (i * 7) % 150);
  TLinearBitmap y, shown;
  ExtractLuminance(base, y);
  TColorMapperState mapper;
  mapper.SelectPlane(mpLuminance);
  mapper.Preview(base, &y, shown);  // identity map: nothing moves
  EXPECT_EQ(std::memcmp(shown.Map, base.Map, size_t(base.Size)), 0);
  mapper.ApplyPreset(cpThreshold, -300, 0, Flat());  // every level to 255
  mapper.Preview(base, &y, shown);
  EXPECT_EQ(shown.Map[0] - base.Map[0], shown.Map[1] - base.Map[1]);
}

}  // namespace
}  // namespace sq
