#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "base/progress.h"
#include "model3d/melax_reduce.h"
#include "model3d/melax_reference.h"
#include "model3d/texture_model.h"

namespace sq {
namespace {

void ExpectSameModel(const TSurfaceColorModel& a, const TSurfaceColorModel& b, const std::string& what) {
  ASSERT_EQ(a.VertexCount, b.VertexCount) << what;
  ASSERT_EQ(a.TriangleCount, b.TriangleCount) << what;
  for (int i = 0; i < a.VertexCount; ++i) {
    // Bit for bit, so that an undefined coordinate matches itself.
    ASSERT_EQ(std::bit_cast<uint32_t>(a.Vertices[i].X), std::bit_cast<uint32_t>(b.Vertices[i].X))
        << what << " vertex " << i;
    ASSERT_EQ(std::bit_cast<uint32_t>(a.Vertices[i].Y), std::bit_cast<uint32_t>(b.Vertices[i].Y))
        << what << " vertex " << i;
    ASSERT_EQ(std::bit_cast<uint32_t>(a.Vertices[i].Z), std::bit_cast<uint32_t>(b.Vertices[i].Z))
        << what << " vertex " << i;
    ASSERT_EQ(a.Colors[i], b.Colors[i]) << what << " colour " << i;
  }
  for (int t = 0; t < a.TriangleCount; ++t) ASSERT_EQ(a.Triangles[t], b.Triangles[t]) << what << " triangle " << t;
}

// A w x h height field; levels > 0 quantises the heights so that many costs tie.
void MakeGrid(TSurfaceColorModel& m, int w, int h, std::mt19937& rng, int levels) {
  std::uniform_real_distribution<float> height(0, 1);
  std::uniform_int_distribution<int> coin(0, 1), level(0, std::max(levels - 1, 0));
  m.SetVertexCount(w * h);
  m.SetTriangleCount(2 * (w - 1) * (h - 1));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float z = levels > 0 ? float(level(rng)) : height(rng);
      m.Vertices[y * w + x] = {float(x), float(y), z};
      m.Colors[y * w + x] = rng() & 0xFFFFFF;
    }
  int t = 0;
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x + 1 < w; ++x) {
      const uint32_t a = y * w + x, b = a + 1, c = a + w, d = c + 1;
      if (coin(rng)) {
        m.Triangles[t++] = {a, b, d};
        m.Triangles[t++] = {a, d, c};
      } else {
        m.Triangles[t++] = {a, b, c};
        m.Triangles[t++] = {b, d, c};
      }
    }
}

// Random triangles over a small pool: non-manifold edges, fans, unused vertices.
void MakeSoup(TSurfaceColorModel& m, int vertices, int triangles, std::mt19937& rng) {
  std::uniform_int_distribution<int> pick(0, vertices - 1), coord(0, 3);
  m.SetVertexCount(vertices);
  m.SetTriangleCount(triangles);
  for (int i = 0; i < vertices; ++i) {
    m.Vertices[i] = {float(coord(rng)), float(coord(rng)), float(coord(rng))};
    m.Colors[i] = i;
  }
  for (int t = 0; t < triangles; ++t) {
    uint32_t a, b, c;
    do {
      a = pick(rng), b = pick(rng), c = pick(rng);
    } while (a == b || b == c || a == c);
    m.Triangles[t] = {a, b, c};
  }
}

// Terraces, as a reconstruction makes them: flat patches, whose inside edges cost
// nothing, collapse into wide fans that meet the steps between them.
void MakeTerraces(TSurfaceColorModel& m, int w, int h, int seed) {
  std::mt19937 rng(seed);
  MakeGrid(m, w, h, rng, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      m.Vertices[y * w + x].Z = std::floor(2.5f * std::sin(x * 0.3f + seed) + 2.0f * std::cos(y * 0.25f));
}

// Tilted planar terraces with a few holes: every terrace has its own slope, so flat
// patches whose normals agree bit for bit meet steps and hole rims whose vertices
// become border vertices while the reduction runs.
void MakeTiltedTerracesWithHoles(TSurfaceColorModel& m, int w, int h, int seed) {
  MakeTerraces(m, w, h, seed);
  for (T3DPoint& p : m.Vertices) {
    const int level = static_cast<int>(p.Z);
    p.Z += 0.125f * float((level + 3) % 3) * p.X + 0.0625f * float((level + seed + 2) % 2) * p.Y;
  }
  std::mt19937 rng(seed);
  std::vector<T3DTriangle> kept;
  for (const T3DTriangle& t : m.Triangles)
    if (rng() % 29 != 0) kept.push_back(t);
  m.SetTriangleCount(static_cast<int>(kept.size()));
  m.Triangles = kept;
}

void CopyModel(const TSurfaceColorModel& from, TSurfaceColorModel& to) {
  to.SetVertexCount(from.VertexCount);
  to.SetTriangleCount(from.TriangleCount);
  to.Vertices = from.Vertices;
  to.Colors = from.Colors;
  to.Triangles = from.Triangles;
}

// Reduces a copy of the model with the plain reference and the model itself with the
// fast reduction, and expects the same result.
void ExpectFastEqualsPlain(TSurfaceColorModel& fast, int target, const std::string& what) {
  TSurfaceColorModel plain;
  CopyModel(fast, plain);
  MelaxReduce(fast, target);
  reference::PlainMelaxReduce(plain, target);
  ExpectSameModel(fast, plain, what);
}

TEST(Melax, FastReductionEqualsPlainScanOnTerraces) {
  for (int round = 0; round < 4; ++round) {
    TSurfaceColorModel fast;
    MakeTerraces(fast, 26, 20, round);
    const int target = 8 + 60 * round;
    ExpectFastEqualsPlain(fast, target, "terraces " + std::to_string(round));
  }
}

// Soups are where neighbour lists and faces disagree most (non-manifold edges,
// neighbours without a common face), so they get many rounds of their own.
TEST(Melax, FastReductionEqualsPlainScanOnTriangleSoups) {
  std::mt19937 rng(777);
  for (int round = 0; round < 1500; ++round) {
    TSurfaceColorModel fast;
    MakeSoup(fast, 6 + rng() % 30, 4 + rng() % 50, rng);
    // A vertex off at infinity has no usable edge, so it goes without a target.
    if (round % 4 == 0) fast.Vertices[rng() % fast.VertexCount].Y = std::numeric_limits<float>::infinity();
    const int target = 1 + rng() % fast.VertexCount;
    ExpectFastEqualsPlain(fast, target, "soup " + std::to_string(round));
  }
}

TEST(Melax, FastReductionEqualsPlainScanOnTiltedTerracesWithHoles) {
  for (int round = 0; round < 4; ++round) {
    TSurfaceColorModel fast;
    MakeTiltedTerracesWithHoles(fast, 34, 24, round);
    const int target = 5 + 90 * round;
    ExpectFastEqualsPlain(fast, target, "tilted terraces " + std::to_string(round));
  }
}

// Large enough for the setup to share its work between threads: the first costs
// must see the border vertices that costing one vertex after another would have
// found by then, which soups (open edges everywhere) and hole rims test.
TEST(Melax, SetupSharedBetweenThreadsEqualsPlainScan) {
  std::mt19937 rng(99);
  for (int round = 0; round < 3; ++round) {
    TSurfaceColorModel soup;
    MakeSoup(soup, 2500, 9000 + 2000 * round, rng);
    ExpectFastEqualsPlain(soup, 2500 - 150, "soup " + std::to_string(round));
  }
  TSurfaceColorModel terraces;
  MakeTiltedTerracesWithHoles(terraces, 80, 60, 3);
  ExpectFastEqualsPlain(terraces, 80 * 60 - 400, "terraces");
}

TEST(Melax, FastReductionEqualsPlainScanOnRandomMeshes) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 150; ++round) {
    TSurfaceColorModel fast;
    const int kind = round % 3;
    if (kind == 0) {
      const int w = 3 + rng() % 10, h = 3 + rng() % 10;
      MakeGrid(fast, w, h, rng, round % 2 ? 0 : 3);
    } else if (kind == 1) {
      const int w = 3 + rng() % 8, h = 3 + rng() % 8;
      MakeGrid(fast, w, h, rng, 1);  // flat: ties everywhere
    } else {
      MakeSoup(fast, 8 + rng() % 40, 5 + rng() % 60, rng);
    }
    const int target = 1 + rng() % fast.VertexCount;
    ExpectFastEqualsPlain(fast, target, "round " + std::to_string(round));
    EXPECT_LE(fast.VertexCount, target);
  }
  TSurfaceColorModel sphere, plainSphere;
  sphere.MakeSphere(30);
  plainSphere.MakeSphere(30);
  std::vector<int> progress;
  {
    TProgressScope scope([&progress](int percent) { progress.push_back(percent); });
    MelaxReduce(sphere, 40);
  }
  ASSERT_GT(progress.size(), 2u);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), 100);
  reference::PlainMelaxReduce(plainSphere, 40);
  ExpectSameModel(sphere, plainSphere, "sphere");
}

// Where a collapse leaves a neighbour's faces as they were, only its new edge to the
// target is costed, and that edge rarely undercuts the neighbour's cheapest: two-level
// steps on small grids are where it happens often enough to be tested.
TEST(Melax, FastReductionEqualsPlainScanWhereNewEdgesUndercut) {
  for (int seed = 0; seed < 1000; ++seed) {
    std::mt19937 rng(seed);
    TSurfaceColorModel grid;
    MakeGrid(grid, 12, 10, rng, 2);
    for (int target = 60; target >= 4; target /= 2) {
      TSurfaceColorModel fast;
      CopyModel(grid, fast);
      ExpectFastEqualsPlain(fast, target, "seed " + std::to_string(seed) + " to " + std::to_string(target));
      if (HasFatalFailure()) return;
    }
  }
}

// Wheels of 3 to 18 spokes with rims at random heights, whose hubs see up to 18
// distinct normals, side by side with a flat grid of mixed orientation, whose normals
// differ only in the signs of zeros, and a grid with an undefined height.
TEST(Melax, FastReductionEqualsPlainScanOnWheelsAndSignedZeros) {
  std::mt19937 rng(777);
  std::uniform_real_distribution<float> height(-1, 1);
  for (int spokes = 3; spokes <= 18; ++spokes) {
    TSurfaceColorModel wheel;
    wheel.SetVertexCount(spokes + 1);
    wheel.SetTriangleCount(spokes);
    wheel.Vertices[0] = {0, 0, 0};
    for (int i = 0; i < spokes; ++i) {
      const float angle = 6.2831853f * float(i) / float(spokes);
      wheel.Vertices[i + 1] = {std::cos(angle), std::sin(angle), spokes % 2 ? height(rng) : 0.0f};
      wheel.Triangles[i] = {0, uint32_t(i + 1), uint32_t((i + 1) % spokes + 1)};
    }
    for (int target = spokes; target >= 1; target -= 3) {
      TSurfaceColorModel fast;
      CopyModel(wheel, fast);
      ExpectFastEqualsPlain(fast, target, std::to_string(spokes) + " spokes to " + std::to_string(target));
    }
  }
  for (const bool undefined : {false, true}) {
    TSurfaceColorModel grid;
    MakeGrid(grid, 9, 8, rng, 1);
    for (T3DPoint& p : grid.Vertices) p = {-p.X, p.Y, 0.0f};
    if (undefined) grid.Vertices[30].Z = std::numeric_limits<float>::quiet_NaN();
    for (int target = 60; target >= 2; target -= 11) {
      TSurfaceColorModel fast;
      CopyModel(grid, fast);
      ExpectFastEqualsPlain(fast, target,
                            std::string(undefined ? "undefined" : "signed zeros") + " to " + std::to_string(target));
    }
  }
}

void FlatSquare(TSurfaceColorModel& m) {
  m.SetVertexCount(4);
  m.SetTriangleCount(2);
  m.Vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  m.Colors = {0x10, 0x20, 0x30, 0x40};
  m.Triangles = {{0, 1, 2}, {0, 2, 3}};
}

TEST(Melax, FlatSquareKeepsOneTriangleAtThreeVerticesAndNoneAtOne) {
  // Listed (0,1,2),(0,2,3) the first collapse runs along a rim edge, so one
  // triangle survives; other listings may collapse across the diagonal first.
  TSurfaceColorModel three, one, same, original;
  FlatSquare(three);
  FlatSquare(one);
  FlatSquare(same);
  FlatSquare(original);
  MelaxReduce(three, 3);
  EXPECT_EQ(three.VertexCount, 3);
  EXPECT_EQ(three.TriangleCount, 1);
  MelaxReduce(one, 1);
  EXPECT_EQ(one.VertexCount, 1);
  EXPECT_EQ(one.TriangleCount, 0);
  // At or above the count the model is rebuilt unchanged.
  MelaxReduce(same, 4);
  ExpectSameModel(same, original, "unchanged");
}

TEST(Melax, UnusedVerticesGoFirstAndTexturesFollowTheirVertices) {
  TTextureModel m;
  m.SetVertexCount(6);
  m.SetTriangleCount(2);
  m.Vertices = {{9, 9, 9}, {0, 0, 0}, {1, 0, 0}, {5, 5, 5}, {1, 1, 0}, {0, 1, 0}};
  m.Colors = {0xA, 0x1, 0x2, 0xB, 0x3, 0x4};
  for (int i = 0; i < 6; ++i) m.TexCoords[i] = {float(i), float(10 * i)};
  m.Triangles = {{1, 2, 4}, {1, 4, 5}};
  MelaxReduce(m, 4);
  ASSERT_EQ(m.VertexCount, 4);
  EXPECT_EQ(m.TriangleCount, 2);
  EXPECT_EQ(m.Colors, (std::vector<uint32_t>{0x1, 0x2, 0x3, 0x4}));
  // The survivors are the old vertices 1, 2, 4 and 5.
  const float survivor[4] = {1, 2, 4, 5};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(m.TexCoords[i].U, survivor[i]);
    EXPECT_EQ(m.TexCoords[i].V, 10 * survivor[i]);
  }
  EXPECT_EQ(m.Triangles[0], (T3DTriangle{0, 1, 2}));
  EXPECT_EQ(m.Triangles[1], (T3DTriangle{0, 2, 3}));
}

TEST(Melax, RefusesCornersOutsideTheModelAndSurvivesDegenerateInput) {
  TSurfaceColorModel bad, odd;
  FlatSquare(bad);
  FlatSquare(odd);
  bad.Triangles[1][2] = 4;
  EXPECT_THROW(MelaxReduce(bad, 2), Exception);

  odd.SetTriangleCount(3);
  odd.Triangles[2] = {1, 1, 3};  // no area: dropped
  odd.Vertices[3] = {std::numeric_limits<float>::infinity(), 0, 0};
  MelaxReduce(odd, 1);
  EXPECT_EQ(odd.VertexCount, 1);
  EXPECT_EQ(odd.TriangleCount, 0);
}

}  // namespace
}  // namespace sq
