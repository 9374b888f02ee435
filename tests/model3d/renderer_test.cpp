// The software renderer: projection, culling, depth rules, colour blocks, light
// routines, the anaglyph, threads, and hostile geometry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "base/exception.h"
#include "model3d/base_3d_renderer.h"
#include "model3d/color_point_3d_model.h"
#include "model3d/frame32.h"
#include "model3d/light.h"
#include "model3d/renderer_raster.h"
#include "model3d/stereo_3d_renderer.h"
#include "model3d/texture_model.h"
#include "model3d/view_settings.h"

namespace sq {
namespace {

constexpr uint32_t kBackground = 0x123456;

struct TScene {
  TScene(int width, int height) : Buffer(width, height) { Clear(); }
  void Clear() { Buffer.Frame().Fill(kBackground); }
  uint32_t Pixel(int x, int y) const { return Buffer.Frame().Row(y)[x]; }
  // Pixels that are no longer the background.
  std::set<std::pair<int, int>> Drawn() const {
    std::set<std::pair<int, int>> result;
    for (int y = 0; y < Buffer.Frame().Height; ++y)
      for (int x = 0; x < Buffer.Frame().Width; ++x)
        if (Pixel(x, y) != kBackground) result.insert({x, y});
    return result;
  }
  TFrame32Buffer Buffer;
};

// A surface of the given triangles, all vertices one colour.
void MakeSurface(TSurfaceColorModel& model, const std::vector<T3DPoint>& vertices,
                 const std::vector<T3DTriangle>& triangles, uint32_t color) {
  model.SetVertexCount(static_cast<int>(vertices.size()));
  model.SetTriangleCount(static_cast<int>(triangles.size()));
  std::copy(vertices.begin(), vertices.end(), model.Vertices.begin());
  std::copy(triangles.begin(), triangles.end(), model.Triangles.begin());
  model.FillColor(color);
}

TEST(Renderer, ProjectsWithHalvesToEven) {
  TScene scene(400, 300);
  TBase3DRenderer renderer;
  renderer.BeginFrame(scene.Buffer.Frame());
  std::vector<T3DPoint> v{{0, 0, 0}, {0, 0, 700}, {0, 100, 700}};
  renderer.Project(v.data(), 3);
  EXPECT_EQ(renderer.Projected[0].X, 200);
  EXPECT_EQ(renderer.Projected[0].Y, 150);
  renderer.EyeX = 100;
  renderer.Project(v.data(), 3);
  EXPECT_EQ(renderer.Projected[0].X, 200);  // the plane z = 0 does not move with the eye
  EXPECT_EQ(renderer.Projected[0].Y, 150);
  EXPECT_EQ(renderer.Projected[1].X, 100);
  EXPECT_EQ(renderer.Projected[1].Y, 150);
  EXPECT_EQ(renderer.Projected[2].X, 100);
  EXPECT_EQ(renderer.Projected[2].Y, -50);

  // With D a power of two the halves are exact: they go to the even neighbour.
  renderer.EyeX = 0;
  renderer.ViewDistance = 1024;
  v = {{2.5f, 0.5f, 0}, {3.5f, 1.5f, 0}, {-2.5f, -2.5f, 0}};
  renderer.Project(v.data(), 3);
  EXPECT_EQ(renderer.Projected[0].X, 202);
  EXPECT_EQ(renderer.Projected[0].Y, 150);
  EXPECT_EQ(renderer.Projected[1].X, 204);
  EXPECT_EQ(renderer.Projected[1].Y, 148);
  EXPECT_EQ(renderer.Projected[2].X, 198);
  EXPECT_EQ(renderer.Projected[2].Y, 152);
}

TEST(Renderer, ZBufferStartsFarAndIsKeptWhileTheSizeStays) {
  TScene scene(8, 4);
  TBase3DRenderer renderer;
  renderer.BeginFrame(scene.Buffer.Frame());
  ASSERT_EQ(renderer.ZBuffer.size(), 32u);
  uint32_t bits;
  std::memcpy(&bits, &renderer.ZBuffer[5], 4);
  EXPECT_EQ(bits, 0xFEFEFEFEu);
  EXPECT_NEAR(renderer.ZBuffer[5], -1.6947e38f, 0.0001e38f);
  const float* block = renderer.ZBuffer.data();
  renderer.ZBuffer[3] = 7;
  renderer.BeginFrame(scene.Buffer.Frame());
  EXPECT_EQ(renderer.ZBuffer.data(), block);
  EXPECT_EQ(renderer.ZBuffer[3], renderer.ZBuffer[0]);
  TScene larger(9, 4);
  renderer.BeginFrame(larger.Buffer.Frame());
  EXPECT_EQ(renderer.ZBuffer.size(), 36u);
  EXPECT_EQ(renderer.ZBufferByteSize, 144);
}

TEST(Renderer, FillsSpansWithoutTheirRightEndDownToTheBottomRow) {
  // Screen corners (2, 2), (6, 2), (2, 6) in a 10 x 10 frame centred at (5, 5).
  TScene scene(10, 10);
  TSurfaceColorModel model;
  MakeSurface(model, {{-3, 3, 0}, {1, 3, 0}, {-3, -1, 0}}, {{0, 1, 2}}, 0xFF0000);
  model.RenderMode = rmFlat;
  TBase3DRenderer renderer;
  renderer.BeginFrame(scene.Buffer.Frame());
  renderer.RenderModel(model, nullptr);
  std::set<std::pair<int, int>> expected;
  for (int y = 2; y <= 5; ++y)
    for (int x = 2; x < 6 - (y - 2); ++x) expected.insert({x, y});
  EXPECT_EQ(scene.Drawn(), expected);
  EXPECT_EQ(scene.Pixel(2, 2), 0xFF0000u);
}

TEST(Renderer, QuickCoverageTestAgreesWithTheEdgeWalk) {
  // Every triangle with corners around a small frame, and some with far columns.
  TFrame32Buffer buffer(3, 2);
  const Frame32& frame = buffer.Frame();
  std::vector<TScreenPoint> points;
  for (int y = -2; y <= 3; ++y)
    for (int x = -2; x <= 4; ++x) points.push_back(TScreenPoint{x, y});
  for (int x : {(1 << 22) - 1, 1 << 22, -(1 << 22), 1 - (1 << 22)}) points.push_back(TScreenPoint{x, 1});
  const TRowBands allRows(frame.Height, 1, 0);
  int covering = 0;
  for (const TScreenPoint& a : points)
    for (const TScreenPoint& b : points)
      for (const TScreenPoint& c : points) {
        const int top = std::min({a.Y, b.Y, c.Y}), bottom = std::max({a.Y, b.Y, c.Y});
        if (bottom < 0 || top >= frame.Height) continue;
        const bool expected = raster::CoversPixels(a, b, c, frame, allRows);
        ASSERT_EQ(raster::CoversPixelsInFrame(a, b, c, frame, top, bottom), expected)
            << a.X << "," << a.Y << " " << b.X << "," << b.Y << " " << c.X << "," << c.Y;
        covering += expected;
      }
  EXPECT_GT(covering, 1000);
}

TEST(Renderer, CullsTrianglesFacingAwayUnlessBackSidesAreShown) {
  const std::vector<T3DPoint> corners{{-5, -5, 0}, {5, -5, 0}, {-5, 5, 0}};
  auto draw = [&](const T3DTriangle& triangle, bool useNormals, bool backSides, bool shading) {
    TScene scene(20, 20);
    TSurfaceColorModel model;
    MakeSurface(model, corners, {triangle}, 0x336699);
    model.RenderMode = rmFlat;
    model.UseNormals = useNormals;
    model.ShowBackSides = backSides;
    model.Shading = shading;
    TBase3DRenderer renderer;
    renderer.LightDirection = T3DPoint{0.0f, 0.6f, 0.8f};
    renderer.BeginFrame(scene.Buffer.Frame());
    renderer.RenderModel(model, nullptr);
    return scene.Pixel(8, 10);
  };
  const T3DTriangle front{0, 1, 2}, back{0, 2, 1};
  EXPECT_EQ(draw(front, true, false, false), 0x336699u);
  EXPECT_EQ(draw(back, true, false, false), kBackground);
  EXPECT_EQ(draw(back, true, true, false), 0x336699u);
  EXPECT_EQ(draw(back, false, false, false), 0x336699u);
  // Lit two-sided, a back face takes the absolute value of the dot product (0.8).
  TRGBSingle lit{0x33 * 0.8f, 0x66 * 0.8f, 0x99 * 0.8f};
  EXPECT_EQ(draw(back, true, true, true), PackColor(lit));
  EXPECT_EQ(draw(front, true, false, true), PackColor(lit));
  // One-sided light leaves a visible back face dark.
  EXPECT_EQ(draw(back, false, false, true), 0u);
}

TEST(Renderer, KeepsTheFirstOfEqualDepths) {
  auto overlapColor = [](uint32_t first, uint32_t second) {
    TScene scene(20, 20);
    TSurfaceColorModel model;
    MakeSurface(model, {{-6, -6, 1}, {6, -6, 1}, {-6, 6, 1}, {-4, -4, 1}, {8, -4, 1}, {-4, 8, 1}},
                {{0, 1, 2}, {3, 4, 5}}, 0);
    for (int i = 0; i < 3; ++i) model.Colors[i] = first;
    for (int i = 3; i < 6; ++i) model.Colors[i] = second;
    TBase3DRenderer renderer;
    for (uint32_t mode : {rmFlat, rmGouraud}) {
      model.RenderMode = mode;
      scene.Clear();
      renderer.BeginFrame(scene.Buffer.Frame());
      renderer.RenderModel(model, nullptr);
      EXPECT_EQ(scene.Pixel(8, 12), scene.Pixel(9, 12)) << mode;
    }
    return scene.Pixel(8, 12) & 0xFFFFFF;
  };
  EXPECT_EQ(overlapColor(0xFF0000, 0x0000FF), 0xFF0000u);
  EXPECT_EQ(overlapColor(0x0000FF, 0xFF0000), 0x0000FFu);
}

TEST(Renderer, PointsAreGreyByDepthAndOnlyInFrontOfTheEye) {
  TScene scene(10, 10);
  TBase3DModel model;
  model.SetVertexCount(5);
  // Columns 1..5 of row 5: depths 10, -200, 100, 1400 (the eye plane), 10 behind -200.
  model.Vertices = {{-4, 0, 10}, {-3, 0, -200}, {-2, 0, 100}, {-1, 0, 1400}, {-3, 0, -100}};
  TBase3DRenderer renderer;
  renderer.BeginFrame(scene.Buffer.Frame());
  renderer.RenderModel(model, nullptr);
  EXPECT_EQ(scene.Pixel(1, 5), 187u * 0x010101u);
  EXPECT_EQ(scene.Pixel(2, 5) & 0xFF, 100u);  // -200 maps below 100; the nearer point wins
  EXPECT_EQ(scene.Pixel(3, 5), 0xFFFFFFu);
  EXPECT_EQ(scene.Pixel(4, 5), kBackground);
  EXPECT_EQ(renderer.ZBuffer[5 * 10 + 2], -100.0f);
}

TEST(Renderer, ColorBlocksAreClippedPixelByPixelAtTheEdge) {
  // The centre in column 1 draws columns 0..3; in column 0 it draws 0..2.
  for (const auto& [column, columns] : {std::pair{1, 4}, std::pair{0, 3}}) {
    TScene scene(20, 20);
    TColorPoint3DModel model;
    model.SetVertexCount(1);
    model.Vertices[0] = T3DPoint{float(column - 10), 0, 0};
    model.Colors[0] = 0x00AA00;
    model.RenderMode = rmColorBlocks;
    TBase3DRenderer renderer;
    renderer.BeginFrame(scene.Buffer.Frame());
    renderer.RenderModel(model, nullptr);
    std::set<std::pair<int, int>> expected;
    for (int y = 8; y <= 12; ++y)
      for (int x = 0; x < columns; ++x) expected.insert({x, y});
    EXPECT_EQ(scene.Drawn(), expected) << column;
    EXPECT_EQ(scene.Pixel(0, 10), 0x00AA00u);
    // Each pixel sits at its own depth: a pyramid facing the viewer.
    EXPECT_EQ(renderer.ZBuffer[10 * 20 + 0], -float(column));
    EXPECT_EQ(renderer.ZBuffer[8 * 20 + 2], -float(2 + std::abs(2 - column)));
  }
}

TEST(Light, RoutinesAndPacking) {
  TRGBSingle rgb;
  for (uint32_t color : {0x000000u, 0x336699u, 0xFF0000u}) {
    LightShiny(color, rgb, 1.0f);
    EXPECT_EQ(PackColor(rgb), 0xFFFFFFu) << color;
    LightShiny(color, rgb, 0.95f);
    EXPECT_EQ(rgb.R, float((color >> 16) & 0xFF) * 0.95f);
    EXPECT_EQ(rgb.B, float(color & 0xFF) * 0.95f);
  }
  LightShiny(0x000000, rgb, 0.99f);  // halfway up the highlight
  EXPECT_NEAR(rgb.G, 255 - 255 * std::sqrt(0.2), 0.01);
  LightStandard(0x808080, rgb, 3.0f);
  EXPECT_EQ(PackColor(rgb), 0x808080u);

  LightStandardAmbient(0x0000FF, rgb, 0.5f, 0.3f);
  EXPECT_FLOAT_EQ(rgb.B, 255 * 0.8f);
  LightStandardAmbient(0x0000FF, rgb, 0.9f, 0.3f);
  EXPECT_EQ(rgb.B, 255.0f);
  LightShinyAmbient(0x0000FF, rgb, 0.1f, 0.3f);
  EXPECT_FLOAT_EQ(rgb.B, 255 * 0.3f);
  LightShinyAmbient(0x0000FF, rgb, 5.0f, 0.3f);
  EXPECT_EQ(PackColor(rgb), 0xFFFFFFu);

  // Halves to even, kept within a byte.
  EXPECT_EQ(PackColor(TRGBSingle{0.5f, 1.5f, 2.5f}), 0x000202u);
  EXPECT_EQ(PackColor(TRGBSingle{300.0f, -5.0f, std::numeric_limits<float>::quiet_NaN()}), 0xFF0000u);
}

TEST(StereoRenderer, MergesTheEyesIntoARedBlueAnaglyph) {
  TFrame32Buffer left(3, 1), right(3, 1), target(3, 1);
  left.Frame().Row(0)[0] = 0x000000;
  right.Frame().Row(0)[0] = 0x00FF00;
  left.Frame().Row(0)[1] = 0xFFFF00;
  right.Frame().Row(0)[1] = 0xFF00FF;
  left.Frame().Row(0)[2] = 0x000100;
  right.Frame().Row(0)[2] = 0x000000;
  ComposeAnaglyph(left.Frame(), right.Frame(), target.Frame());
  EXPECT_EQ(target.Frame().Row(0)[0], 0x0000FFu);
  EXPECT_EQ(target.Frame().Row(0)[1], 0xBF0000u);  // (3 * 255 + 2) div 4
  EXPECT_EQ(target.Frame().Row(0)[2], 0x010000u);

  TStereo3DRenderer stereo(6.5, 35, 32, 1920);
  EXPECT_FLOAT_EQ(stereo.ViewDistance, 2100.0f);
  EXPECT_DOUBLE_EQ(stereo.RightEyeX, 195.0);
  EXPECT_DOUBLE_EQ(stereo.LeftEyeX, -195.0);

  // A near triangle is seen further right by the left eye than by the right eye.
  TScene scene(40, 20);
  TSurfaceColorModel model;
  MakeSurface(model, {{-2, -6, 100}, {2, -6, 100}, {-2, 6, 100}}, {{0, 1, 2}}, 0x00FF00);
  model.RenderMode = rmFlat;
  stereo.BeginFrame(scene.Buffer.Frame());
  stereo.RenderModel(model, nullptr);
  stereo.EndFrame();
  EXPECT_EQ(stereo.Target.Bits, scene.Buffer.Frame().Bits);
  EXPECT_FLOAT_EQ(stereo.EyeX, 195.0f);
  TFrame32Buffer expected(40, 20);
  ComposeAnaglyph(stereo.LeftFrame.Frame(), stereo.RightFrame.Frame(), expected.Frame());
  int leftOnly = 0, rightOnly = 0;
  for (int x = 0; x < 40; ++x) {
    EXPECT_EQ(scene.Pixel(x, 10), expected.Frame().Row(10)[x]);
    const uint32_t p = scene.Pixel(x, 10);
    leftOnly += p == 0xBF0000u;
    rightOnly += p == 0x0000FFu;
    if (p == 0xBF0000u) {
      EXPECT_GT(x, 20);
    }
    if (p == 0x0000FFu) {
      EXPECT_LT(x, 20);
    }
  }
  EXPECT_GT(leftOnly, 0);
  EXPECT_GT(rightOnly, 0);

  TTextureModel textured;
  MakeSurface(textured, {{0, 0, 0}}, {}, 0xFF0000);
  textured.Texture.New(1, 1, pf24bit);
  textured.Texture.ClearColor(0x0000FF);  // platform colour: red
  stereo.PrepareModel(textured);
  EXPECT_EQ(textured.Colors[0], 85u << 8);
  EXPECT_EQ(textured.Texture.PixelFormat, pf8bit);
  EXPECT_EQ(textured.Texture.Map[0], 85);
}

TEST(Renderer, ModesAClassCannotShowRaiseUnknownRenderer) {
  TScene scene(10, 10);
  TBase3DRenderer renderer;
  renderer.BeginFrame(scene.Buffer.Frame());
  TBase3DModel points;
  TColorPoint3DModel colored;
  TSurfaceColorModel surface;
  TTextureModel textured;
  const std::pair<TBase3DModel*, uint32_t> cases[] = {
      {&points, rmColorBlocks}, {&colored, rmWireframe}, {&surface, rmTexture}, {&textured, 99}};
  for (auto [model, mode] : cases) {
    model->SetVertexCount(1);
    model->Vertices[0] = T3DPoint{0, 0, 0};
    model->RenderMode = mode;
    try {
      renderer.RenderModel(*model, nullptr);
      ADD_FAILURE() << model->ClassName() << " drew mode " << mode;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), "Unknown renderer");
    }
  }
  EXPECT_TRUE(scene.Drawn().empty());
}

// A bumpy sphere and large triangles through the frame's edges and the eye plane.
void MakeBusyModel(TTextureModel& model, int rings = 40) {
  model.MakeSphere(rings);
  const int sphere = model.VertexCount, sphereTriangles = model.TriangleCount;
  model.SetVertexCount(sphere + 6);
  model.SetTriangleCount(sphereTriangles + 2);
  for (int i = 0; i < sphere; ++i) {
    T3DPoint& v = model.Vertices[i];
    const float bump = 1.0f + 0.1f * std::sin(7.0f * v.X) * std::cos(5.0f * v.Y);
    v = T3DPoint{v.X * bump, v.Y * bump, v.Z * bump};
    model.Colors[i] = (uint32_t(i * 37) & 0xFFFFFF);
    model.TexCoords[i] = TTexCoord{v.X * 3 + 3, v.Y * 2 + 2};
  }
  const T3DPoint extra[] = {{-3, -0.5f, -0.5f},   {3, -0.3f, 0.2f}, {-2.5f, 0.9f, 0.3f},
                            {0.2f, 0.1f, 13.99f}, {0.5f, 0.4f, -1}, {-0.4f, 0.6f, -1}};
  for (int i = 0; i < 6; ++i) {
    model.Vertices[sphere + i] = extra[i];
    model.Colors[sphere + i] = 0xFFC080;
    model.TexCoords[sphere + i] = TTexCoord{float(i), 7.0f - i};
  }
  const uint32_t s = uint32_t(sphere);
  model.Triangles[sphereTriangles] = T3DTriangle{s, s + 1, s + 2};
  model.Triangles[sphereTriangles + 1] = T3DTriangle{s + 3, s + 4, s + 5};
  model.Texture.New(5, 4, pf24bit);
  for (int64_t i = 0; i < model.Texture.Size; ++i) model.Texture.Map[i] = uint8_t(i * 29);
}

TEST(Renderer, ThreadsDrawTheSamePictureAsOneThread) {
  TTextureModel model;
  MakeBusyModel(model);
  model.UseNormals = model.Shading = true;
  TViewSettings settings;
  settings.Width = 97;
  settings.Height = 71;
  settings.Zoom = 100;
  settings.Rotate(0.3, -0.4);
  const T3DMatrix view = ViewMatrix(settings);
  for (bool backSides : {false, true})
    for (uint32_t mode : {rmPoints, rmColorBlocks, rmWireframe, rmFlat, rmGouraud, rmTexture, rmGouraudTexture}) {
      model.RenderMode = mode;
      model.ShowBackSides = backSides;
      std::vector<uint32_t> first;
      std::vector<float> firstDepth;
      for (int threads : {1, 2, 3, 5}) {
        TScene scene(settings.Width, settings.Height);
        TBase3DRenderer renderer;
        renderer.ThreadCount = threads;
        renderer.ParallelThreshold = 0;
        renderer.BeginFrame(scene.Buffer.Frame());
        renderer.RenderModel(model, &view);
        const uint32_t* p = scene.Buffer.Frame().Row(0);
        std::vector<uint32_t> pixels(p, p + settings.Width * settings.Height);
        if (threads == 1) {
          first = pixels;
          firstDepth = renderer.ZBuffer;
          EXPECT_GT(scene.Drawn().size(), 300u) << mode;
        } else {
          EXPECT_EQ(pixels, first) << "mode " << mode << " threads " << threads;
          EXPECT_EQ(std::memcmp(renderer.ZBuffer.data(), firstDepth.data(), firstDepth.size() * 4), 0);
        }
      }
    }
}

TEST(Renderer, LightsVerticesExactlyAsTheModelDoes) {
  // Enough triangles for every thread to take a share.
  TTextureModel model;
  MakeBusyModel(model, 100);
  model.UseNormals = model.Shading = true;
  model.RenderMode = rmGouraud;
  const T3DMatrix view = MultiplyMatrix(RotationX(0.7), RotationY(0.2));
  // Threads sum the normals of their own triangles and join the sums of vertices
  // they share: in mesh order few are shared, in a scrambled order most are.
  TTextureModel scrambled;
  MakeBusyModel(scrambled, 100);
  for (size_t i = 0; i < scrambled.Triangles.size(); ++i)
    scrambled.Triangles[i] = model.Triangles[(i * 7919) % model.Triangles.size()];
  scrambled.UseNormals = scrambled.Shading = true;
  scrambled.RenderMode = rmGouraud;
  for (auto [backSides, threads, mesh] : {std::tuple{false, 1, &model},
                                          {true, 3, &model},
                                          {false, 2, &model},
                                          {true, 2, &scrambled},
                                          {false, 5, &scrambled}}) {
    TTextureModel& model = *mesh;
    model.ShowBackSides = backSides;
    TScene scene(50, 40);
    TBase3DRenderer renderer;
    renderer.ThreadCount = threads;
    renderer.ParallelThreshold = 0;
    renderer.LightDirection = TViewSettings::DefaultLightVector();
    renderer.BeginFrame(scene.Buffer.Frame());
    renderer.RenderModel(model, &view);
    const std::vector<T3DPoint> normals = model.FaceNormals;
    const std::vector<float> light = model.VertexLight;
    model.ComputeFaceNormals(renderer.Transformed.data());
    model.ComputeVertexLight(renderer.LightDirection);
    ASSERT_EQ(normals.size(), model.FaceNormals.size());
    EXPECT_EQ(std::memcmp(normals.data(), model.FaceNormals.data(), normals.size() * sizeof(T3DPoint)), 0);
    EXPECT_EQ(light, model.VertexLight);
  }
}

TEST(Renderer, SurvivesHostileGeometry) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  TTextureModel model;
  MakeSurface(
      model,
      {{0, 0, 1400}, {1, 0, 1399.9999f}, {-1e30f, 1e30f, 0}, {nan, 0, 0}, {inf, -inf, 5}, {0, 1, 0}, {3, 3, 1e20f}},
      {{0, 1, 5}, {1, 2, 5}, {2, 3, 4}, {3, 4, 5}, {0, 9, 1}, {6, 5, 1}, {1, 5, 6}}, 0x808080);
  for (auto& uv : model.TexCoords) uv = TTexCoord{1e30f, -nan};
  model.Texture.New(3, 2, pf24bit);
  model.Texture.Clear(200);
  for (bool shading : {false, true})
    for (uint32_t mode : {rmPoints, rmColorBlocks, rmWireframe, rmFlat, rmGouraud, rmTexture, rmGouraudTexture}) {
      model.RenderMode = mode;
      model.Shading = model.UseNormals = shading;
      TScene scene(64, 48);
      TBase3DRenderer renderer;
      renderer.BeginFrame(scene.Buffer.Frame());
      renderer.RenderModel(model, nullptr);
    }
  // Random small models of awkward values, in every mode, plain and stereo.
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 134775813u + 1u; };
  const float awkward[] = {0, 1, -1, 7.5f, -300, 1399.99f, 1400, 1400.01f, 2e9f, -3e9f, 1e30f, -inf, inf, nan};
  auto value = [&] {
    const uint32_t r = next() >> 8;
    return r % 3 == 0 ? awkward[(r / 3) % std::size(awkward)] : float(int(r % 4001) - 2000) / 10.0f;
  };
  for (int round = 0; round < 300; ++round) {
    TTextureModel random;
    const int vertices = 1 + int(next() >> 28), triangles = int(next() >> 28);
    random.SetVertexCount(vertices);
    random.SetTriangleCount(triangles);
    for (int i = 0; i < vertices; ++i) {
      random.Vertices[i] = T3DPoint{value(), value(), value()};
      random.Colors[i] = next();
      random.TexCoords[i] = TTexCoord{value(), value()};
    }
    for (auto& triangle : random.Triangles)
      for (auto& corner : triangle) corner = (next() >> 8) % uint32_t(vertices + 1);
    if (next() & 1) random.Texture.New(1 + int(next() >> 29), 1 + int(next() >> 30), pf24bit);
    const uint32_t modes[] = {rmPoints, rmColorBlocks, rmWireframe, rmFlat, rmGouraud, rmTexture, rmGouraudTexture};
    random.RenderMode = modes[(next() >> 8) % 7];
    random.ShowBackSides = next() & 1;
    random.UseNormals = next() & 1;
    random.Shading = next() & 1;
    TScene scene(1 + int(next() >> 27), 1 + int(next() >> 27));
    std::unique_ptr<TBase3DRenderer> renderer;
    if (next() & 1)
      renderer = std::make_unique<TBase3DRenderer>();
    else
      renderer = std::make_unique<TStereo3DRenderer>(6.5, 35, 32, 1 + int(next() >> 20));
    renderer->ThreadCount = 1 + int(next() >> 31);
    renderer->ParallelThreshold = 0;
    T3DMatrix view = MultiplyMatrix(RotationX(value()), RotationY(value()));
    view[2][3] = value();
    renderer->BeginFrame(scene.Buffer.Frame());
    renderer->RenderModel(random, (next() & 1) ? &view : nullptr);
    renderer->EndFrame();
  }

  // Without a texture image the textured modes draw the surface's own colours.
  model.Texture.Dispose();
  model.RenderMode = rmTexture;
  model.Shading = false;
  TScene scene(64, 48);
  TBase3DRenderer renderer;
  renderer.BeginFrame(scene.Buffer.Frame());
  renderer.RenderModel(model, nullptr);
  EXPECT_EQ(scene.Pixel(33, 23), 0x808080u);
}

}  // namespace
}  // namespace sq
