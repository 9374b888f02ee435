#include "recon/pipeline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/exception.h"

namespace sq {
namespace {

// Image 2 shows image 1 four pixels further left, with a nearer square eight pixels
// further left.
struct TSmallScene {
  TSmallScene() {
    std::mt19937 random(17);
    image1.New(80, 60, pf24bit);
    for (int64_t i = 0; i < image1.Size; ++i) image1.Map[i] = static_cast<uint8_t>(random());
    image2.New(80, 60, pf24bit);
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 80; ++x) {
        const bool square = x >= 30 && x < 50 && y >= 20 && y < 40;
        const int sx = std::min(79, x + (square ? 8 : 4));
        std::memcpy(image2.PixelAddress(x, y), image1.PixelAddress(sx, y), 3);
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
  std::vector<std::string> stages;
  pipeline.SetStageHandler([&](const std::string& stage) { stages.push_back(stage); });

  pipeline.BuildModel();
  EXPECT_EQ(stages, (std::vector<std::string>{kStageFit, kStageWarp, kStageDispersion, kStageMedian, kStageSmooth,
                                              kStageModel}));
  ASSERT_TRUE(pipeline.HasModel());
  EXPECT_GT(pipeline.Model()->TriangleCount, 0);
  EXPECT_EQ(pipeline.FilterPasses(), 1);
  // The shift is taken up by the warp: the pairs fit exactly, on the same rows.
  EXPECT_EQ(pipeline.PointErrorText(), "Point error: 0.0");
  EXPECT_EQ(pipeline.Warped1().Width, pipeline.CommonArea().Width);

  // An existing map is used as it is: no filtering again.
  stages.clear();
  pipeline.BuildModel();
  EXPECT_EQ(stages, (std::vector<std::string>{kStageModel}));

  // Every press of "Apply filters" filters again; a size of 1 skips a filter.
  pipeline.Params.MedianSize = 1;
  stages.clear();
  pipeline.ApplyFilters();
  pipeline.ApplyFilters();
  EXPECT_EQ(stages, (std::vector<std::string>{kStageSmooth, kStageSmooth}));
  EXPECT_EQ(pipeline.FilterPasses(), 3);

  // Reset discards the map but keeps the warp.
  pipeline.Reset();
  stages.clear();
  pipeline.ComputeDispersionMap();
  EXPECT_EQ(stages, (std::vector<std::string>{kStageDispersion}));
  EXPECT_EQ(pipeline.FilterPasses(), 0);
}

TEST(ReconstructionPipeline, SettingsTakeEffectWhenTheirStepRuns) {
  TSmallScene scene;
  TReconstructionPipeline pipeline(scene.image1, scene.image2, scene.project);
  pipeline.ComputeDispersionMap();
  const TFloatMap before = pipeline.Map();
  // The nearer square stands four pixels out from the rest.
  EXPECT_EQ(*pipeline.Map().PixelAddress(pipeline.Map().Width / 2, pipeline.Map().Height / 2), 4.0);

  pipeline.Params.Spread = 0.5;
  pipeline.ApplyFilters();
  pipeline.Reset();
  pipeline.Params.Spread = 8;
  pipeline.ComputeDispersionMap();
  EXPECT_EQ(std::memcmp(before.Map, pipeline.Map().Map, sizeof(double) * before.Count), 0);
  EXPECT_EQ(std::memcmp(pipeline.RawMap().Map, pipeline.Map().Map, sizeof(double) * before.Count), 0);

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
  TReconstructionPipeline pipeline(scene.image1, scene.image2, scene.project);
  pipeline.Params.MedianSize = pipeline.Params.SmoothSize = 1;
  pipeline.ApplyFilters();
  // d = -disparity of a usable pixel.
  pipeline.Params.D = -4;
  try {
    pipeline.BuildModel();
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Floating point division by zero.\rTry increasing d");
  }
  EXPECT_TRUE(pipeline.HasMap());

  // A pair that sends image 2 far away: refused with the earlier results kept.
  const int width = pipeline.Warped1().Width;
  pipeline.Params.AutoCrop = true;
  scene.project.PointCount = 1;
  scene.project.Points[0] = {10, 10, 5000, 10};
  EXPECT_THROW(pipeline.Warp(), Exception);
  EXPECT_EQ(pipeline.Warped1().Width, width);

  // Colour palettes and grey images enter as 24-bit pixels.
  const TSmallScene fresh;
  TLinearBitmap grey1(fresh.image1), grey2(fresh.image2);
  grey1.SetPixelFormat(pf8bit);
  grey2.SetPixelFormat(pf8bit);
  TReconstructionPipeline fromPalette(grey1, grey2, fresh.project);
  fromPalette.BuildModel();
  EXPECT_EQ(fromPalette.Warped2().PixelFormat, pf24bit);
}

}  // namespace
}  // namespace sq
