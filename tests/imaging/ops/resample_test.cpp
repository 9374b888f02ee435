#include "imaging/ops/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "base/exception.h"
#include "base/progress.h"
#include "imaging/ops/resample_kernel.h"
#include "imaging/ops/resample_rows.h"

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
  if (!a.Present || !b.Present) return a.Present == b.Present;
  return a.Width == b.Width && a.Height == b.Height && a.PixelFormat == b.PixelFormat &&
         std::memcmp(a.Map, b.Map, size_t(a.Size)) == 0;
}

// Every sample k or k + 1: blends of neighbours land near halves wherever a weight
// comes near 1/2, and on them where it is exactly 1/2.
TLinearBitmap TwoLevel(int w, int h, TPixelFormat format, unsigned seed) {
  TLinearBitmap b = Noise(w, h, format, seed);
  const uint8_t k = static_cast<uint8_t>(40 + seed * 37 % 170);
  for (int64_t i = 0; i < b.Size; ++i) b.Map[i] = static_cast<uint8_t>(k + (b.Map[i] & 1));
  return b;
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
  // Steps of 5/6 (51 to 61) put every sixth position a few ulps off a half, so the
  // two-level picture gets blends just beside halves; 51 to 101 gives weights of
  // exactly 1/2 and blends exactly on halves.
  struct TCase {
    TLinearBitmap image;
    std::vector<std::pair<int, int>> sizes;
  };
  const TCase cases[] = {{Noise(57, 43, pf24bit, 11), {{100, 80}, {40, 30}, {20, 9}, {57, 90}}},
                         {TwoLevel(51, 51, pf24bit, 3), {{61, 61}, {101, 101}, {61, 101}, {43, 30}}}};
  int besideHalves = 0, onHalves = 0;
  for (const TCase& test : cases) {
    const TLinearBitmap& image = test.image;
    for (auto [w, h] : test.sizes) {
      TLinearBitmap out;
      BilinearResize(image, out, w, h);
      const auto ax = Axis(image.Width, w), ay = Axis(image.Height, h);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          for (int c = 0; c < 3; ++c) {
            auto at = [&](int sx, int sy) { return double(image.PixelAddress(sx, sy)[c]); };
            const auto [x0, fx] = ax[x];
            const auto [y0, fy] = ay[y];
            const double top = at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx;
            const double bottom = at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx;
            const double v = top * (1 - fy) + bottom * fy;
            const double fromHalf = std::abs(v - std::floor(v) - 0.5);
            besideHalves += fromHalf > 0 && fromHalf < 1e-6;
            onHalves += fromHalf == 0;
            ASSERT_EQ(out.PixelAddress(x, y)[c], std::nearbyint(v)) << x << "," << y;
          }
    }
  }
  EXPECT_GT(besideHalves, 100);
  EXPECT_GT(onHalves, 1000);
}

// The vector kernels against the plain loops on both byte formats: exact halves,
// odd sizes, steps beside and on halves, reductions past one half, enlargements,
// mixed scales and one-pixel axes, large enough for several threads.
TEST(Resample, VectorKernelsGiveThePlainBytes) {
  struct TSizes {
    int w, h, tw, th;
  };
  const TSizes cases[] = {{120, 80, 60, 40},   {121, 81, 60, 40},  {51, 51, 61, 61},     {61, 61, 51, 51},
                          {9, 9, 17, 17},      {301, 200, 90, 61}, {300, 200, 510, 340}, {200, 100, 100, 200},
                          {33, 1, 70, 3},      {1, 20, 5, 7},      {2, 2, 1, 1},         {3, 5, 2, 2},
                          {700, 500, 350, 250}};
  unsigned seed = 1;
  for (TPixelFormat format : {pf8bit, pf24bit})
    for (const TSizes& size : cases)
      for (const TLinearBitmap& image :
           {Noise(size.w, size.h, format, ++seed), TwoLevel(size.w, size.h, format, ++seed)}) {
        TLinearBitmap bilinear, smart, half, plainBilinear, plainSmart, plainHalf;
        BilinearResize(image, bilinear, size.tw, size.th);
        SmartResize(image, smart, size.tw, size.th);
        HalfSize(image, half);
        TPlainResampleLoops plain;
        BilinearResize(image, plainBilinear, size.tw, size.th);
        SmartResize(image, plainSmart, size.tw, size.th);
        HalfSize(image, plainHalf);
        EXPECT_TRUE(SameBytes(bilinear, plainBilinear)) << format << " " << size.w << " to " << size.tw;
        EXPECT_TRUE(SameBytes(smart, plainSmart)) << format << " " << size.w << " to " << size.tw;
        EXPECT_TRUE(SameBytes(half, plainHalf)) << format << " " << size.w;
      }
}

// The box average written plainly: block j of an axis ends at round((j + 1) n / m),
// at least one sample on from the last end, and the mean is rounded halves to even.
TEST(AreaResize, AveragesTheBlocksBetweenRoundedEnds) {
  auto ends = [](int n, int m) {
    std::vector<int> e;
    for (int j = 0, last = 0; j < m; ++j) {
      last = std::clamp(int(std::nearbyint(double(j + 1) * n / m)), std::min(last + 1, n), n);
      e.push_back(last);
    }
    return e;
  };
  for (TPixelFormat format : {pf8bit, pf24bit})
    for (auto [w, h, tw, th] : {std::tuple{100, 80, 30, 21}, {97, 61, 13, 40}, {1000, 3, 7, 1}, {5, 300, 9, 45}}) {
      const TLinearBitmap image = Noise(w, h, format, unsigned(w + h));
      TLinearBitmap out;
      AreaResize(image, out, tw, th);
      const auto ex = ends(w, tw), ey = ends(h, th);
      const int ps = image.PixelSize;
      for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x)
          for (int c = 0; c < ps; ++c) {
            const int x0 = std::min(x ? ex[x - 1] : 0, ex[x] - 1), y0 = std::min(y ? ey[y - 1] : 0, ey[y] - 1);
            double sum = 0;
            for (int sy = y0; sy < ey[y]; ++sy)
              for (int sx = x0; sx < ex[x]; ++sx) sum += image.PixelAddress(sx, sy)[c];
            ASSERT_EQ(out.PixelAddress(x, y)[c], std::nearbyint(sum / ((ex[x] - x0) * (ey[y] - y0)))) << x << "," << y;
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
