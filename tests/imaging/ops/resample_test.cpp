#include "imaging/ops/resample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "base/exception.h"
#include "base/progress.h"
#include "imaging/ops/resample_kernel.h"

namespace sq {
namespace {

TLinearBitmap Noise(int w, int h, TPixelFormat format, unsigned seed = 1) {
  TLinearBitmap b(w, h, format);
  if (format == pf8bit) std::memcpy(b.Palette, GrayPalette(), 768);
  std::mt19937 random(seed);
  for (int64_t i = 0; i < b.Size; ++i) b.Map[i] = static_cast<uint8_t>(random());
  return b;
}

TLinearBitmap Constant(int w, int h, TPixelFormat format, uint8_t value) {
  TLinearBitmap b(w, h, format);
  if (format == pf8bit) std::memcpy(b.Palette, GrayPalette(), 768);
  b.Clear(value);
  return b;
}

double Mean(const TLinearBitmap& b) {
  double sum = 0;
  for (int64_t i = 0; i < b.Size; ++i) sum += b.Map[i];
  return sum / double(b.Size);
}

bool SameBytes(const TLinearBitmap& a, const TLinearBitmap& b) {
  return a.Width == b.Width && a.Height == b.Height && a.PixelFormat == b.PixelFormat &&
         std::memcmp(a.Map, b.Map, size_t(a.Size)) == 0;
}

TEST(SmartResize, PicksTheMethodFromTheScale) {
  // Exact half: the 2 x 2 mean (10 + 11 + 12 + 13 + 2) >> 2 = 12.
  TLinearBitmap image = Constant(100, 100, pf8bit, 0);
  image.Map[0] = 10, image.Map[1] = 11, image.Map[100] = 12, image.Map[101] = 13;
  TLinearBitmap half;
  SmartResize(image, half, 50, 50);
  EXPECT_EQ(half.Map[0], 12);

  // 60 % of the size: bilinear with offset 1 - 0.6 = 0.4, so the first sample blends
  // columns 0 and 1 at 0.4.
  TLinearBitmap step = Constant(100, 100, pf8bit, 200);
  for (int y = 0; y < 100; ++y) step.ScanLine(y)[0] = 0;
  TLinearBitmap sixty;
  SmartResize(step, sixty, 60, 60);
  EXPECT_EQ(sixty.Map[0], 80);

  // 30 %: box average; the first block covers columns and rows 0..2 (round(10 / 3) = 3).
  const TLinearBitmap noise = Noise(100, 100, pf8bit);
  TLinearBitmap thirty;
  SmartResize(noise, thirty, 30, 30);
  int sum = 0;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) sum += noise.ScanLine(y)[x];
  EXPECT_EQ(thirty.Map[0], std::nearbyint(sum / 9.0));

  // One axis shrinks while the other grows: bilinear.
  const TLinearBitmap wide = Noise(200, 100, pf24bit);
  TLinearBitmap tall, bilinear;
  SmartResize(wide, tall, 100, 200);
  BilinearResize(wide, bilinear, 100, 200);
  EXPECT_TRUE(SameBytes(tall, bilinear));

  // Colour-palette images are never blended.
  TLinearBitmap palette = Noise(40, 30, pf8bit);
  palette.Palette[5] = 200;
  TLinearBitmap resized, pixel;
  SmartResize(palette, resized, 33, 21);
  PixelResize(palette, 33, 21, pixel);
  EXPECT_TRUE(SameBytes(resized, pixel));
  EXPECT_EQ(std::memcmp(resized.Palette, palette.Palette, 768), 0);
}

TEST(SmartResize, DisposesForEmptySizesAndWorksInPlace) {
  TLinearBitmap image = Noise(10, 10, pf24bit), target = Noise(3, 3, pf8bit);
  SmartResize(image, target, 0, 5);
  EXPECT_FALSE(target.Present);
  Resize(image, 20, 7);
  EXPECT_EQ(image.Width, 20);
  EXPECT_EQ(image.Height, 7);
  SmartResize(image, image, 5, 5);
  EXPECT_EQ(image.Width, 5);
  EXPECT_THROW(BilinearResize(Noise(4, 4, pf32bit), target, 2, 2), ELinearBitmap);
}

TEST(Resample, DoubleSizeAndPixelResizeFollowTheirRules) {
  const TLinearBitmap image = Noise(5, 4, pf8bit);
  TLinearBitmap twice;
  DoubleSize(image, twice);
  ASSERT_EQ(twice.Width, 10);
  auto s = [&](int x, int y) { return int(image.ScanLine(y)[x]); };
  auto t = [&](int x, int y) { return int(twice.ScanLine(y)[x]); };
  EXPECT_EQ(t(3, 5), s(1, 2));
  EXPECT_EQ(t(4, 5), (s(1, 2) + s(2, 2) + 1) >> 1);
  EXPECT_EQ(t(3, 6), (s(1, 2) + s(1, 3) + 1) >> 1);
  EXPECT_EQ(t(4, 6), (s(1, 2) + s(2, 2) + s(1, 3) + s(2, 3) + 2) >> 2);
  EXPECT_EQ(t(0, 0), s(0, 0));

  TLinearBitmap line(3, 1, pf24bit), wide;
  for (int i = 0; i < 9; ++i) line.Map[i] = static_cast<uint8_t>(i);
  PixelResize(line, 7, 1, wide);
  const int source[7] = {0, 0, 0, 1, 1, 2, 2};  // trunc(x * 3 / 7)
  for (int x = 0; x < 7; ++x) EXPECT_EQ(wide.Map[3 * x + 2], 3 * source[x] + 2) << x;
}

// The bilinear rule written plainly: per axis an offset o and a step s, positions
// accumulated, the lower neighbour limited to n - 2, blended and rounded.
std::vector<std::pair<int, double>> Axis(int n, int m) {
  double o = 0, s = 0;
  if (m <= 1) {
    o = 0.5;
  } else if (n > m && double(m) / n >= 0.5) {
    o = 1 - double(m) / n;
    s = (n - 1 - 2 * o) / (m - 1);
  } else if (n > m) {
    o = 0.5;
    s = double(n - 2) / (m - 1);
  } else {
    s = double(n - 1) / (m - 1);
  }
  std::vector<std::pair<int, double>> axis;
  for (double p = o; int(axis.size()) < m; p += s) {
    const int low = std::min(int(p), n - 2);
    axis.emplace_back(low, p - low);
  }
  return axis;
}

TEST(BilinearResize, MatchesThePlainRuleByteForByte) {
  const TLinearBitmap image = Noise(57, 43, pf24bit, 11);
  for (auto [w, h] : {std::pair{100, 80}, {40, 30}, {20, 9}, {57, 90}}) {
    TLinearBitmap out;
    BilinearResize(image, out, w, h);
    const auto ax = Axis(57, w), ay = Axis(43, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) {
          auto at = [&](int sx, int sy) { return double(image.PixelAddress(sx, sy)[c]); };
          const auto [x0, fx] = ax[x];
          const auto [y0, fy] = ay[y];
          const double top = at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx;
          const double bottom = at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx;
          ASSERT_EQ(out.PixelAddress(x, y)[c], std::nearbyint(top * (1 - fy) + bottom * fy)) << x << "," << y;
        }
  }
}

TEST(LineFilters, KeepLinesOfTheSameLengthAndClampTheLowPass) {
  std::vector<uint8_t> line(40), out(40);
  std::mt19937 random(3);
  for (auto& v : line) v = static_cast<uint8_t>(random());
  for (auto filter : {LowPassLineFilter, SplineLineFilter, SincLineFilter}) {
    filter(line.data(), out.data(), 40, 40);
    EXPECT_EQ(out, line);
    filter(line.data(), out.data(), 40, 1);  // one sample: the rounded mean
    int sum = 0;
    for (auto v : line) sum += v;
    EXPECT_EQ(out[0], std::nearbyint(sum / 40.0));
  }
  // Halving gives the centre weight 2 and side weights -1/2, which overshoot: the
  // results -127.5 and 382.5 are clamped.
  const uint8_t edge[4] = {0, 0, 0, 255};
  uint8_t two[2];
  LowPassLineFilter(edge, two, 4, 2);
  EXPECT_EQ(two[0], 0);
  EXPECT_EQ(two[1], 255);
}

// Every method on every format it takes: a constant image stays constant and a noisy
// one keeps its mean.
TEST(Resample, ConstantStaysConstantAndMeanStaysPut) {
  struct Size {
    int w, h;
  };
  const Size sizes[] = {{50, 40}, {30, 12}, {200, 160}, {100, 80}, {160, 20}, {61, 47}};
  for (TPixelFormat format : {pf8bit, pf24bit}) {
    for (const Size size : sizes) {
      const TLinearBitmap flat = Constant(100, 80, format, 173);
      const TLinearBitmap noise = Noise(100, 80, format, 7);
      TLinearBitmap out;
      SmartResize(flat, out, size.w, size.h);
      EXPECT_EQ(Mean(out), 173.0) << size.w;
      SmartResize(noise, out, size.w, size.h);
      EXPECT_NEAR(Mean(out), Mean(noise), 3.0) << size.w;
      for (auto kind : {TLineFilterKind::LowPass, TLineFilterKind::Spline, TLineFilterKind::Sinc}) {
        KernelResize(flat, size.w, size.h, out, kind);
        ASSERT_EQ(out.Width, size.w);
        ASSERT_EQ(out.Height, size.h);
        EXPECT_EQ(Mean(out), 173.0) << size.w << " " << int(kind);
      }
    }
  }
  TLinearBitmap wide(30, 20, pf16bit), out;
  for (int64_t i = 0; i < wide.Size; i += 2) wide.Map[i] = 0x34, wide.Map[i + 1] = 0x12;
  SmartResize(wide, out, 17, 45);
  for (int64_t i = 0; i < out.Size; i += 2) ASSERT_EQ(out.Map[i] | (out.Map[i + 1] << 8), 0x1234);
}

TEST(Resample, ReportsProgressEndingAt100) {
  std::vector<int> reports;
  TProgressScope scope([&](int percent) { reports.push_back(percent); });
  TLinearBitmap line = Noise(30, 1, pf24bit), out;
  SmartResize(line, out, 40, 1);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back(), 100);
  reports.clear();
  KernelResize(Noise(300, 200, pf24bit), 150, 90, out, TLineFilterKind::Sinc);
  EXPECT_EQ(reports.back(), 100);
  for (size_t i = 1; i < reports.size(); ++i) EXPECT_GE(reports[i], reports[i - 1]);
}

}  // namespace
}  // namespace sq
