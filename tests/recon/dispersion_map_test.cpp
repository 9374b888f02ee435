#include "recon/dispersion_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "base/exception.h"
#include "recon/warp_bitmap.h"

namespace sq {
namespace {

// The row-by-row recurrence written as plainly as possible, with the full cost and
// move tables: the reference that the diagonal kernels must match bit for bit.
void ReferenceDispersionMap(const TLinearBitmap& im1, const TLinearBitmap& im2, TFloatMap& map, double spread,
                            double occlusion, std::vector<double>& prices) {
  const int w = im1.Width, h = im1.Height;
  double entry[511];
  const double k = 1.0 / (3.0 * spread);
  for (int delta = -255; delta <= 255; ++delta) entry[delta + 255] = std::abs(delta) * k;
  std::vector<double> cost(size_t(w) * w);
  std::vector<uint8_t> move(size_t(w) * w);
  map.SetSize(w, h);
  map.Clear();
  prices.assign(size_t(h), std::nan(""));
  for (int y = 0; y < h; ++y) {
    const uint8_t* r1 = im1.ScanLine(y);
    const uint8_t* r2 = im2.ScanLine(y);
    int a1 = 0, b1 = w - 1, a2 = 0, b2 = w - 1;
    FindRowSpan(r1, a1, b1, kBackgroundColor);
    FindRowSpan(r2, a2, b2, kBackgroundColor);
    const int n1 = b1 - a1 + 1, n2 = b2 - a2 + 1;
    if (n1 < 1 || n2 < 1) continue;
    for (int i = 0; i < w; ++i) move[i] = 2;
    for (int j = 0; j < w; ++j) move[size_t(j) * w] = 3;
    for (int i = 0; i < w; ++i) cost[i] = i * occlusion;
    for (int j = 0; j < w; ++j) cost[size_t(j) * w] = j * occlusion;
    for (int i = 1; i < n1; ++i)
      for (int j = 1; j < n2; ++j) {
        const uint8_t* p = r1 + 3 * (a1 + i - 1);
        const uint8_t* q = r2 + 3 * (a2 + j - 1);
        const double m = entry[p[0] - q[0] + 255] + entry[p[1] - q[1] + 255] + entry[p[2] - q[2] + 255];
        const double D = cost[(i - 1) + size_t(j - 1) * w] + m;
        const double A = cost[(i - 1) + size_t(j) * w] + occlusion;
        const double B = cost[i + size_t(j - 1) * w] + occlusion;
        const double c = D < A ? (D < B ? D : B) : (A < B ? A : B);
        const uint8_t mv = D < A ? (D < B ? 1 : 3) : (A < B ? 2 : 3);
        cost[i + size_t(j) * w] = c;
        move[i + size_t(j) * w] = mv;
      }
    int i = n1 - 1, j = n2 - 1;
    prices[size_t(y)] = cost[i + size_t(j) * w];
    while (i >= 0 && j >= 0) {
      *map.PixelAddress(a1 + i, y) = (a1 + i) - (a2 + j);
      const uint8_t mv = move[i + size_t(j) * w];
      ASSERT_TRUE(mv >= 1 && mv <= 3);
      i -= mv != 3;
      j -= mv != 2;
    }
  }
}

void SetPixel(TLinearBitmap& b, int x, int y, uint32_t value) {
  uint8_t* p = b.PixelAddress(x, y);
  p[0] = value & 0xFF, p[1] = (value >> 8) & 0xFF, p[2] = (value >> 16) & 0xFF;
}

// Random pairs.  Textured: image 2 is image 1 shifted by up to 3 pixels with noise,
// with background margins of random width, background rows and a background pixel
// inside a span.  Near: equal rows but for three pixels in the middle, so the best
// path stays on the diagonal and its price is the sum of those few match costs
// alone, small enough that a last-bit difference in any of them shows.
// Unrelated: two independent images, whose best paths wander far and wide.
enum TPairKind { kTextured, kNear, kUnrelated };

void MakePair(int w, int h, uint32_t seed, TPairKind kind, TLinearBitmap& im1, TLinearBitmap& im2) {
  const bool near = kind == kNear;
  std::mt19937 random(seed);
  im1.New(w, h, pf24bit);
  for (int64_t i = 0; i < im1.Size; ++i) im1.Map[i] = static_cast<uint8_t>(random());
  im2.Assign(im1);
  auto noisy = [&](uint8_t* q, const uint8_t* p, int amplitude) {
    for (int c = 0; c < 3; ++c)
      q[c] = static_cast<uint8_t>(std::clamp(p[c] + int(random() % (2 * amplitude + 1)) - amplitude, 0, 255));
  };
  for (int y = 0; y < h; ++y) {
    if (near) {
      for (int n = 0; n < 3; ++n) {
        uint8_t* p = im2.PixelAddress(w / 3 + static_cast<int>(random() % (w / 3)), y);
        noisy(p, p, 30);
      }
      continue;
    }
    const int shift = static_cast<int>(random() % 7) - 3;
    for (int x = 0; x < w; ++x) noisy(im2.PixelAddress(x, y), im1.PixelAddress(std::clamp(x + shift, 0, w - 1), y), 10);
    if (kind == kUnrelated)
      for (int x = 0; x < w; ++x) SetPixel(im2, x, y, random() & 0xFFFFFF);
    for (TLinearBitmap* im : {&im1, &im2}) {
      for (int x = static_cast<int>(random() % std::min(5, w)); x > 0; --x) SetPixel(*im, x - 1, y, kBackgroundColor);
      for (int x = static_cast<int>(random() % std::min(5, w)); x > 0; --x) SetPixel(*im, w - x, y, kBackgroundColor);
    }
  }
  if (near) return;
  for (int x = 0; x < w; ++x) SetPixel(im1, x, 1, kBackgroundColor), SetPixel(im2, x, 2, kBackgroundColor);
  SetPixel(im1, w / 2, 3, kBackgroundColor);
}

bool SameBits(const TFloatMap& a, const TFloatMap& b) {
  return a.Width == b.Width && a.Height == b.Height &&
         std::memcmp(a.Map, b.Map, static_cast<size_t>(a.Count) * sizeof(double)) == 0;
}

TEST(DispersionMap, EveryKernelAndThreadCountMatchesThePlainLoop) {
  struct Case {
    int w, h;
    double spread, occlusion;
  };
  const Case cases[] = {{37, 9, 8, 6},  {64, 7, 3.3, 0.7}, {23, 6, 100, 0}, {50, 5, 0.01, 100},
                        {2, 4, 8, 6},   {1, 4, 8, 6},      {9, 5, -2, 6},   {300, 4, 8, 6},
                        {90, 30, 8, 6}, {200, 6, 8, 1},    {240, 5, 8, 3},  {260, 5, 8, 60}};
  uint32_t seed = 1;
  for (const Case& c : cases) {
    TLinearBitmap im1, im2;
    MakePair(c.w, c.h, seed, c.w < 9 ? kTextured : TPairKind(seed % 3), im1, im2);
    ++seed;
    TFloatMap expected;
    std::vector<double> expectedPrices;
    ReferenceDispersionMap(im1, im2, expected, c.spread, c.occlusion, expectedPrices);
    for (auto kernel : {TDispersionKernel::Scalar, TDispersionKernel::Avx2}) {
      if (!DispersionKernelAvailable(kernel)) continue;
      for (int workers : {1, 2, 3}) {
        TFloatMap map;
        std::vector<double> prices;
        ComputeDispersionMapWith(im1, im2, map, kBackgroundColor, c.spread, c.occlusion, kernel, workers, &prices);
        EXPECT_TRUE(SameBits(map, expected))
            << c.w << "x" << c.h << " kernel " << int(kernel) << " workers " << workers;
        // The prices carry every rounding along the best path.
        EXPECT_EQ(std::memcmp(prices.data(), expectedPrices.data(), sizeof(double) * prices.size()), 0);
      }
    }
  }
}

TEST(DispersionMap, RowCases) {
  const int w = 40;
  TLinearBitmap im1(w, 4, pf24bit), im2(w, 4, pf24bit);
  std::mt19937 random(7);
  // Row 0: identical rows.  Row 1: image 2 is row 1 moved right by 3 pixels, the
  // vacated columns background.  Row 2: background in image 2.  Row 3: spans of
  // different lengths.
  for (int x = 0; x < w; ++x) {
    const uint32_t v = random() & 0xFFFFFF;
    SetPixel(im1, x, 0, v);
    SetPixel(im2, x, 0, v);
    SetPixel(im1, x, 1, v);
    SetPixel(im2, x, 2, kBackgroundColor);
    SetPixel(im1, x, 2, v);
    SetPixel(im1, x, 3, x < 5 ? kBackgroundColor : v);
    SetPixel(im2, x, 3, x >= 30 ? kBackgroundColor : v);
  }
  for (int x = 0; x < w; ++x) SetPixel(im2, x, 1, x < 3 ? kBackgroundColor : PixelValue(im1.PixelAddress(x - 3, 1)));

  TFloatMap map;
  ComputeDispersionMap(im1, im2, map, kBackgroundColor, 8, 6);
  for (int x = 0; x < w; ++x) EXPECT_EQ(*map.PixelAddress(x, 0), 0.0) << x;
  // Matched pixels lie 3 columns further right in image 2: disparity -3.
  for (int x = 0; x < w - 4; ++x) EXPECT_EQ(*map.PixelAddress(x, 1), -3.0) << x;
  for (int x = 0; x < w; ++x) EXPECT_EQ(*map.PixelAddress(x, 2), 0.0) << x;
  // The whole image-1 span is written; outside it the map stays 0; the first
  // column of the span ends at a1 - a2.
  for (int x = 0; x < 5; ++x) EXPECT_EQ(*map.PixelAddress(x, 3), 0.0) << x;
  EXPECT_EQ(*map.PixelAddress(5, 3), 5.0);

  // Occlusion 0: every tie goes to skipping image-2 pixels, so each column x of
  // the image-1 span ends with x - a2.
  ComputeDispersionMap(im1, im2, map, kBackgroundColor, 8, 0);
  for (int x = 0; x < w; ++x) {
    EXPECT_EQ(*map.PixelAddress(x, 0), x) << x;
    EXPECT_EQ(*map.PixelAddress(x, 1), x - 3) << x;
  }
}

TEST(DispersionMap, RefusesBeforeTouchingTheMap) {
  TLinearBitmap im1, im2, narrow(29, 4, pf24bit);
  MakePair(30, 4, 3, kTextured, im1, im2);
  TFloatMap untouched(2, 2);
  EXPECT_THROW(ComputeDispersionMap(im1, im2, untouched, kBackgroundColor, 0, 6), EZeroDivide);
  EXPECT_THROW(ComputeDispersionMap(im1, narrow, untouched, kBackgroundColor, 8, 6), Exception);
  EXPECT_EQ(untouched.Width, 2);
}

}  // namespace
}  // namespace sq
