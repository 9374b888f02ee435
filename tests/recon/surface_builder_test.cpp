#include "recon/surface_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>

#include "base/exception.h"
#include "recon/warp_bitmap.h"

namespace sq {
namespace {

TLinearBitmap Colourful(int w, int h) {
  TLinearBitmap b(w, h, pf24bit);
  for (int64_t i = 0; i < b.Size; ++i) b.Map[i] = static_cast<uint8_t>(i * 7 + 1);
  return b;
}

void SetBackground(TLinearBitmap& b, int x, int y) {
  uint8_t* p = b.PixelAddress(x, y);
  p[0] = 0xFF, p[1] = 0, p[2] = 0xFF;
}

TFloatMap Zeros(int w, int h) {
  TFloatMap map(w, h);
  map.Clear();
  return map;
}

// Twice the signed area seen from +Z.
double Winding(const TSurfaceColorModel& m, const T3DTriangle& t) {
  const T3DPoint &a = m.Vertices[t[0]], &b = m.Vertices[t[1]], &c = m.Vertices[t[2]];
  return double(b.X - a.X) * (c.Y - a.Y) - double(b.Y - a.Y) * (c.X - a.X);
}

TEST(SurfaceBuilder, ZeroMapGivesAFlatGrid) {
  const TLinearBitmap image = Colourful(6, 5);
  TSurfaceColorModel model;
  BuildSurfaceModel(Zeros(6, 5), image, image, kBackgroundColor, model, 60, 869);
  ASSERT_EQ(model.VertexCount, 30);
  ASSERT_EQ(model.TriangleCount, 2 * 5 * 4);
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(model.Vertices[i].Z, 0.0f);
    EXPECT_EQ(model.Colors[i], PixelValue(image.PixelAddress(i % 6, i / 6)));
  }
  // Row-major vertices on a square grid, model Y up.
  EXPECT_FLOAT_EQ(model.Vertices[1].X - model.Vertices[0].X, model.Vertices[0].Y - model.Vertices[6].Y);
  EXPECT_GT(model.Vertices[1].X, model.Vertices[0].X);
  for (const T3DTriangle& t : model.Triangles) EXPECT_GT(Winding(model, t), 0);
}

TEST(SurfaceBuilder, PlacesVerticesByThePinholeFormula) {
  // Fractional disparities that round to 0, on an image of odd size (cx = 3, cy = 2).
  const int w = 7, h = 5;
  const double d = 2.5, zf = 7;
  const TLinearBitmap image = Colourful(w, h);
  TFloatMap map(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) *map.PixelAddress(x, y) = 0.1 + 0.05 * ((3 * x + 5 * y) % 7);
  TSurfaceColorModel model;
  BuildSurfaceModel(map, image, image, kBackgroundColor, model, d, zf);
  ASSERT_EQ(model.VertexCount, w * h);
  // Normalising moves and scales the whole model, so vertex i - vertex 0 is the
  // formula's difference times one positive factor.
  auto formula = [&](int i) {
    const int x = i % w, y = i / w;
    const double t = 1 / (*map.PixelAddress(x, y) + d);
    return std::array<double, 3>{(x - 3) * t, (2 - y) * t, -zf * t};
  };
  const auto p0 = formula(0);
  const double k = (model.Vertices[w * h - 1].Z - model.Vertices[0].Z) / (formula(w * h - 1)[2] - p0[2]);
  EXPECT_GT(k, 0);
  for (int i = 1; i < w * h; ++i) {
    const auto p = formula(i);
    const T3DPoint& v = model.Vertices[i];
    EXPECT_NEAR(v.X - model.Vertices[0].X, k * (p[0] - p0[0]), 1e-5) << i;
    EXPECT_NEAR(v.Y - model.Vertices[0].Y, k * (p[1] - p0[1]), 1e-5) << i;
    EXPECT_NEAR(v.Z - model.Vertices[0].Z, k * (p[2] - p0[2]), 1e-5) << i;
  }
}

TEST(SurfaceBuilder, UnusablePixelsDropTheirVertexAndTriangles) {
  // A background pixel in the middle of 5 x 5 takes six triangles with it.
  TLinearBitmap image = Colourful(5, 5);
  SetBackground(image, 2, 2);
  TSurfaceColorModel model;
  BuildSurfaceModel(Zeros(5, 5), image, image, kBackgroundColor, model, 60, 869);
  EXPECT_EQ(model.VertexCount, 24);
  EXPECT_EQ(model.TriangleCount, 32 - 6);

  // Disparities pointing left of column 0, right of the last column, or onto a
  // background pixel of image 1 give no vertex.
  const TLinearBitmap full = Colourful(5, 1);
  TLinearBitmap holed = full;
  SetBackground(holed, 4, 0);
  TFloatMap map(5, 1);
  const double values[5] = {-1, 0, 2.5, 1.4, 0};
  std::copy(values, values + 5, map.Map);
  BuildSurfaceModel(map, full, full, kBackgroundColor, model, 60, 869);
  EXPECT_EQ(model.VertexCount, 4);  // 2.5 rounds to 2: column 4 still fits
  map.Map[2] = 3.5;                 // rounds to 4: past the last column
  BuildSurfaceModel(map, full, full, kBackgroundColor, model, 60, 869);
  EXPECT_EQ(model.VertexCount, 3);
  BuildSurfaceModel(map, holed, holed, kBackgroundColor, model, 60, 869);
  EXPECT_EQ(model.VertexCount, 1);  // (3, 0) lands on the hole, (4, 0) is it

  // A lone valid pixel is a vertex without triangles.
  TLinearBitmap lone(3, 3, pf24bit);
  for (int i = 0; i < 9; ++i) SetBackground(lone, i % 3, i / 3);
  lone.PixelAddress(1, 1)[1] = 0x80;
  BuildSurfaceModel(Zeros(3, 3), lone, lone, kBackgroundColor, model, 60, 869);
  EXPECT_EQ(model.VertexCount + model.TriangleCount, 1);
}

TEST(SurfaceBuilder, ZeroSumsFailKeepingConsistentCounts) {
  // d = -map at the second usable pixel: the model keeps what was built before.
  const TLinearBitmap image = Colourful(4, 1);
  TFloatMap map(4, 1);
  const double values[4] = {0, -1, 0, 0};
  std::copy(values, values + 4, map.Map);
  TSurfaceColorModel model;
  EXPECT_THROW(BuildSurfaceModel(map, image, image, kBackgroundColor, model, 1, 100), EZeroDivide);
  EXPECT_EQ(model.VertexCount, 1);
  EXPECT_EQ(model.TriangleCount, 0);
  EXPECT_THROW(BuildSurfaceModel(Zeros(3, 1), image, image, kBackgroundColor, model, 1, 100), Exception);
}

// A scene with everything the builder tells apart: background blobs, disparities
// that send the partner off the image or onto background, halves that round either
// way, and values that fail the division.
struct TScene {
  TScene(int w, int h, unsigned seed) : image(Colourful(w, h)), map(w, h) {
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if ((x / 7 + y / 5 + seed) % 9 == 0 || rng() % 40 == 0) SetBackground(image, x, y);
        const int kind = static_cast<int>(rng() % 20);
        *map.PixelAddress(x, y) = kind == 0   ? -double(x) - 1 - rng() % 3
                                  : kind == 1 ? double(w - x) + rng() % 3
                                  : kind == 2 ? std::floor(rng() % 9 - 4.0) + 0.5
                                              : std::sin(x * 0.3 + y * 0.2) * 6 + (rng() % 100) / 50.0;
      }
  }
  TLinearBitmap image;
  TFloatMap map;
};

void ExpectSameModel(const TSurfaceColorModel& a, const TSurfaceColorModel& b) {
  ASSERT_EQ(a.VertexCount, b.VertexCount);
  ASSERT_EQ(a.TriangleCount, b.TriangleCount);
  EXPECT_EQ(0, std::memcmp(a.Vertices.data(), b.Vertices.data(), sizeof(T3DPoint) * a.VertexCount));
  EXPECT_TRUE(std::equal(a.Colors.begin(), a.Colors.begin() + a.VertexCount, b.Colors.begin()));
  EXPECT_TRUE(std::equal(a.Triangles.begin(), a.Triangles.end(), b.Triangles.begin()));
}

TEST(SurfaceBuilder, BuildsWhatThePlainLoopBuilds) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    const int w = 150 + 37 * static_cast<int>(seed), h = 90 + 11 * static_cast<int>(seed);  // rows for both cores
    const TScene scene(w, h, seed);
    TSurfaceColorModel fast, plain;
    BuildSurfaceModel(scene.map, scene.image, scene.image, kBackgroundColor, fast, 60, 869);
    BuildSurfaceModelReference(scene.map, scene.image, scene.image, kBackgroundColor, plain, 60, 869);
    ExpectSameModel(fast, plain);
    EXPECT_GT(fast.TriangleCount, w * h / 2);
  }
  // A division that fails part way leaves the same partial model as the plain loop.
  TScene scene(200, 120, 7);
  *scene.map.PixelAddress(180, 100) = 0.25;
  uint8_t* pixel = scene.image.PixelAddress(180, 100);
  pixel[0] = 1, pixel[1] = 2, pixel[2] = 3;
  const double d = -0.25;
  TSurfaceColorModel fast, plain;
  EXPECT_THROW(BuildSurfaceModel(scene.map, scene.image, scene.image, kBackgroundColor, fast, d, 869), EMathError);
  EXPECT_THROW(BuildSurfaceModelReference(scene.map, scene.image, scene.image, kBackgroundColor, plain, d, 869),
               EMathError);
  ExpectSameModel(fast, plain);
  EXPECT_GT(fast.VertexCount, 10000);
}

}  // namespace
}  // namespace sq
