#include "recon/pipeline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/exception.h"
#include "recon/disparity_filters.h"

namespace sq {
namespace {

using TStages = std::vector<std::string>;

// Image 2 shows image 1 four pixels further left, a nearer square eight pixels.
struct TSmallScene {
  TSmallScene() {
    std::mt19937 random(17);
    image1.New(80, 60, pf24bit);
    for (int64_t i = 0; i < image1.Size; ++i) image1.Map[i] = static_cast<uint8_t>(random());
    image2.New(80, 60, pf24bit);
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 80; ++x) {
        const bool square = x >= 30 && x < 50 && y >= 20 && y < 40;
        std::memcpy(image2.PixelAddress(x, y), image1.PixelAddress(std::min(79, x + (square ? 8 : 4)), y), 3);
      }
    const PointPair pairs[] = {{10, 10, 6, 10}, {70, 10, 66, 10}, {10, 50, 6, 50}, {70, 50, 66, 50}};
    project.PointCount = 4;
    std::copy(std::begin(pairs), std::end(pairs), project.Points.begin());
  }
  TLinearBitmap image1, image2;
  CorrespondenceProject project;
};

TEST(ReconstructionPipeline, EachStepRunsTheMissingEarlierOnes) {
  TSmallScene scene;
  TReconstructionPipeline pipeline(scene.image1, scene.image2, scene.project);
  TStages stages;
  pipeline.SetStageHandler([&](const std::string& stage) { stages.push_back(stage); });
  pipeline.BuildModel();
  EXPECT_EQ(stages, (TStages{kStageFit, kStageWarp, kStageDispersion, kStageMedian, kStageSmooth, kStageModel}));
  EXPECT_GT(pipeline.Model()->TriangleCount, 0);
  // The shift is taken up by the warp: the pairs fit exactly.
  EXPECT_EQ(pipeline.PointErrorText(), "Point error: 0.0");
  // The nearer square stands four pixels out from the rest.
  EXPECT_EQ(*pipeline.RawMap().PixelAddress(pipeline.Map().Width / 2, pipeline.Map().Height / 2), 4.0);

  // An existing map is used as it is; every "Apply filters" filters again; a size
  // of 1 skips a filter; Reset keeps the warp.
  stages.clear();
  pipeline.BuildModel();
  pipeline.Params.MedianSize = 1;
  pipeline.ApplyFilters();
  pipeline.ApplyFilters();
  EXPECT_EQ(pipeline.FilterPasses(), 3);
  pipeline.Reset();
  pipeline.ComputeDispersionMap();
  EXPECT_EQ(stages, (TStages{kStageModel, kStageSmooth, kStageSmooth, kStageDispersion}));
  EXPECT_EQ(pipeline.FilterPasses(), 0);
}

// The filtered map starts as the raw one and is filtered from it; the raw map stays
// as computed through any number of passes.
TEST(ReconstructionPipeline, FiltersLeaveTheRawMapAsComputed) {
  TSmallScene scene;
  TReconstructionPipeline pipeline(scene.image1, scene.image2, scene.project);
  pipeline.Params.MedianSize = 3;
  pipeline.Params.SmoothSize = 1;
  pipeline.ComputeDispersionMap();
  const TFloatMap raw = pipeline.RawMap();
  auto same = [](const TFloatMap& a, const TFloatMap& b) {
    return a.Width == b.Width && a.Height == b.Height && std::memcmp(a.Map, b.Map, sizeof(double) * a.Count) == 0;
  };
  EXPECT_TRUE(same(pipeline.Map(), raw));
  EXPECT_TRUE(pipeline.HasMap());
  TFloatMap expected = raw;
  for (int pass = 0; pass < 2; ++pass) {
    pipeline.ApplyFilters();
    MedianFilterMap(expected, 3);
    EXPECT_TRUE(same(pipeline.Map(), expected)) << pass;
    EXPECT_TRUE(same(pipeline.RawMap(), raw)) << pass;
  }
  pipeline.Reset();
  EXPECT_FALSE(pipeline.HasMap());
}

TEST(ReconstructionPipeline, SettingsTakeEffectWhenTheirStepRuns) {
  TSmallScene scene;
  TReconstructionPipeline pipeline(scene.image1, scene.image2, scene.project);
  pipeline.ComputeDispersionMap();
  const TFloatMap before = pipeline.Map();
  pipeline.Params.Spread = 0.5;
  pipeline.ApplyFilters();
  pipeline.Reset();
  pipeline.Params.Spread = 8;
  pipeline.ComputeDispersionMap();
  EXPECT_EQ(std::memcmp(before.Map, pipeline.Map().Map, sizeof(double) * before.Count), 0);

  // A warp of another size makes the old map unusable: the next step computes it
  // again instead of reading past its rows.
  pipeline.Params.AutoCrop = false;
  scene.project.Points[0] = {10, 10, 6, 13};
  pipeline.Warp();
  EXPECT_FALSE(pipeline.HasMap());
  pipeline.BuildModel();
  EXPECT_EQ(pipeline.Map().Width, pipeline.Warped1().Width);
  EXPECT_EQ(pipeline.Map().Height, pipeline.Warped1().Height);
}

TEST(ReconstructionPipeline, FailuresKeepTheStateReached) {
  TSmallScene scene;
  // Palette images enter as 24-bit pixels.
  TLinearBitmap palette1(scene.image1), palette2(scene.image2);
  palette1.SetPixelFormat(pf8bit);
  palette2.SetPixelFormat(pf8bit);
  TReconstructionPipeline pipeline(palette1, palette2, scene.project);
  pipeline.Params.MedianSize = pipeline.Params.SmoothSize = 1;
  pipeline.Params.D = -4;  // -disparity of a usable pixel
  try {
    pipeline.BuildModel();
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Floating point division by zero.\rTry increasing d");
  }
  EXPECT_TRUE(pipeline.HasMap());
  EXPECT_EQ(pipeline.Warped2().PixelFormat, pf24bit);

  // A pair that sends image 2 far away: refused with the earlier results kept.
  const int width = pipeline.Warped1().Width;
  scene.project.PointCount = 1;
  scene.project.Points[0] = {10, 10, 5000, 10};
  EXPECT_THROW(pipeline.Warp(), Exception);
  EXPECT_EQ(pipeline.Warped1().Width, width);
}

}  // namespace
}  // namespace sq
