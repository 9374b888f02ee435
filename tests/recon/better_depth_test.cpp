// The optional warps and the semi-global matcher: on a scene built here, on the
// bundled sample against its truth, and on the Middlebury "aloe" pair when Debian's
// opencv-doc is installed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/exception.h"
#include "project/project_file.h"
#include "recon/epipolar_warp.h"
#include "recon/pipeline.h"
#include "recon/warp_fit.h"
#include "support/stereo_truth.h"

namespace sq {
namespace {

// A textured wall at disparity 4 and a nearer square at disparity 12, image 2 being
// the right-hand view, so the wall just left of the square is hidden in image 2.
struct TLayeredScene {
  static constexpr int kW = 160, kH = 120, kWall = 4, kNear = 12, kLeft = 60, kRight = 110, kTop = 30, kBottom = 90;
  TLayeredScene() {
    std::mt19937 random(5);
    auto texture = [&random](TLinearBitmap& t) {
      t.New(kW + 16, kH, pf24bit);
      for (int64_t i = 0; i < t.Size; ++i) t.Map[i] = static_cast<uint8_t>(random());
    };
    TLinearBitmap wall, square;
    texture(wall);
    texture(square);
    image1.New(kW, kH, pf24bit);
    image2.New(kW, kH, pf24bit);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const bool rows = y >= kTop && y < kBottom;
        const bool near1 = rows && x >= kLeft && x < kRight, near2 = rows && x + kNear >= kLeft && x + kNear < kRight;
        std::memcpy(image1.PixelAddress(x, y), (near1 ? square : wall).PixelAddress(x, y), 3);
        std::memcpy(image2.PixelAddress(x, y),
                    near2 ? square.PixelAddress(x + kNear, y) : wall.PixelAddress(x + kWall, y), 3);
      }
    const PointPair pairs[] = {{20, 10, 16, 10}, {140, 110, 136, 110}, {80, 50, 68, 50}};
    project.PointCount = 3;
    std::copy(std::begin(pairs), std::end(pairs), project.Points.begin());
  }
  TLinearBitmap image1, image2;
  CorrespondenceProject project;
};

TEST(SemiGlobalMatcher, FindsBothDepthsAndFillsTheHiddenWallFromTheWallSide) {
  TLayeredScene scene;
  TReconstructionPipeline pipeline(scene.image1, scene.image2, scene.project);
  pipeline.Params.Warp = TWarpMethod::None;
  pipeline.Params.Matcher = TMatcherMethod::SemiGlobal;
  pipeline.ComputeDispersionMap();

  // Without a warp both images stay whole and unchanged.
  ASSERT_EQ(pipeline.Warped1().Width, TLayeredScene::kW);
  ASSERT_EQ(pipeline.Warped1().Height, TLayeredScene::kH);
  EXPECT_EQ(std::memcmp(pipeline.Warped1().Map, scene.image1.Map, scene.image1.Size), 0);
  EXPECT_EQ(pipeline.PointErrorText(), "Point error: 0.0");

  const TFloatMap& map = pipeline.Map();
  int wallGood = 0, wallCount = 0, nearGood = 0, nearCount = 0, hiddenGood = 0, hiddenCount = 0;
  for (int y = TLayeredScene::kTop + 4; y < TLayeredScene::kBottom - 4; ++y) {
    for (int x = 30; x < 150; ++x) {
      const double d = *map.PixelAddress(x, y);
      if (x >= TLayeredScene::kLeft + 4 && x < TLayeredScene::kRight - 4) {
        nearGood += std::fabs(d - TLayeredScene::kNear) <= 1;
        ++nearCount;
      } else if (x >= TLayeredScene::kLeft - (TLayeredScene::kNear - TLayeredScene::kWall) &&
                 x < TLayeredScene::kLeft) {
        hiddenGood += std::fabs(d - TLayeredScene::kWall) <= 1;
        ++hiddenCount;
      } else if (x < TLayeredScene::kLeft - 12 || x >= TLayeredScene::kRight + 4) {
        wallGood += std::fabs(d - TLayeredScene::kWall) <= 1;
        ++wallCount;
      }
    }
  }
  EXPECT_GT(nearGood, 0.95 * nearCount);
  EXPECT_GT(wallGood, 0.95 * wallCount);
  // The strip image 2 cannot see belongs to the wall, not to the square before it.
  EXPECT_GT(hiddenGood, 0.8 * hiddenCount);
}

std::istringstream ReadFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return std::istringstream(text.str());
}

TEST(EpipolarWarp, LinesUpTheSampleRowsBetterThanTheProjectiveFit) {
  const std::string dir = std::string(SQ_SOURCE_DIR) + "/samples";
  if (!std::filesystem::exists(dir + "/sample.kst")) GTEST_SKIP() << "no sample in " << dir;
  TProjectFile file;
  file.LoadFromFile(dir + "/sample.kst");
  const std::span<const PointPair> pairs(file.Project.Points.data(), size_t(file.Project.PointCount));
  std::istringstream text = ReadFile(dir + "/truth.txt");
  PointTransform h{};
  std::string word;
  while (text >> word)
    if (word == "homography")
      for (double& v : h) text >> v;

  // Where points of image 1 at two depths land in each frame.
  const TEpipolarWarp epipolar = FitEpipolarWarp(pairs, 1024, 768, 1024, 768, true);
  const TWarpFit projective = FitWarpTransform(pairs, 1024, 768);
  std::vector<double> epipolarRows, projectiveRows;
  for (int y = 40; y < 740; y += 50)
    for (int x = 40; x < 1000; x += 50)
      for (double d : {45.0, 90.0}) {
        const TPointF p2 = TransformPoint(h, x - d, y);
        epipolarRows.push_back(
            std::fabs(TransformPoint(epipolar.Transform1, x, y).Y - TransformPoint(epipolar.Transform2, p2.X, p2.Y).Y));
        projectiveRows.push_back(std::fabs(y - TransformPoint(projective.Transform, p2.X, p2.Y).Y));
      }
  std::sort(epipolarRows.begin(), epipolarRows.end());
  std::sort(projectiveRows.begin(), projectiveRows.end());
  const size_t p50 = epipolarRows.size() / 2, p90 = epipolarRows.size() * 9 / 10;
  std::printf("row offset, median and 90%%: epipolar %.3f %.3f, projective %.3f %.3f\n", epipolarRows[p50],
              epipolarRows[p90], projectiveRows[p50], projectiveRows[p90]);
  // Whole-pixel pairs limit both fits near the middle; the projective one errs more
  // towards the edges, where no flat transform can follow the parallax.
  EXPECT_LT(epipolarRows[p50], 0.35);
  EXPECT_LT(epipolarRows[p90], projectiveRows[p90]);
  // Image 1 stays nearly where it was.
  EXPECT_NEAR(TransformPoint(epipolar.Transform1, 512, 384).X, 512, 20);

  // Fewer than eight pairs: a clear refusal.
  try {
    FitEpipolarWarp(pairs.first(7), 1024, 768, 1024, 768, true);
    ADD_FAILURE() << "seven pairs accepted";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "The epipolar warp needs at least 8 point pairs, not 7");
  }
}

TEST(EpipolarWarp, RefusesDegeneratePairsClearly) {
  std::vector<PointPair> same(12, PointPair{100, 100, 90, 100}), line, huge;
  for (int i = 0; i < 12; ++i) {
    line.push_back({10 * i, 5 * i, 10 * i - 3, 5 * i});
    huge.push_back({i % 2 ? INT32_MAX : INT32_MIN + i, i * 1000, -i, i % 3 ? INT32_MAX : 0});
  }
  for (const auto* pairs : {&same, &line, &huge}) {
    try {
      const TEpipolarWarp warp = FitEpipolarWarp(*pairs, 200, 150, 200, 150, true);
      // Whatever the solvers make of them, the area stays a sane size.
      EXPECT_GE(warp.Area.Width, 1);
      EXPECT_LE(warp.Area.Width, kMaxWarpSize);
    } catch (const Exception& e) {
      EXPECT_GT(std::strlen(e.what()), 10u);
    }
  }
}

TEST(Aloe, SemiGlobalMatchingOnTheRectifiedAndTheReRectifiedPair) {
  testsupport::TAloe aloe;
  if (!testsupport::LoadAloe(aloe, 3)) GTEST_SKIP() << "opencv-doc's aloe pair is not installed";
  CorrespondenceProject project;
  const std::vector<PointPair> pairs = testsupport::AloePairs(aloe, 60);
  ASSERT_GE(pairs.size(), 40u);
  project.PointCount = static_cast<int32_t>(pairs.size());
  std::copy(pairs.begin(), pairs.end(), project.Points.begin());

  double rates[2] = {};
  for (TWarpMethod warp : {TWarpMethod::None, TWarpMethod::Epipolar}) {
    TReconstructionPipeline pipeline(aloe.Left, aloe.Right, project);
    pipeline.Params.Warp = warp;
    pipeline.Params.Matcher = TMatcherMethod::SemiGlobal;
    pipeline.ComputeDispersionMap();
    // At a third of the size, a third of the usual 2 px.
    const testsupport::TTruthScore score = testsupport::ScoreAgainstTruth(pipeline, pipeline.Map(), aloe.Left.Width,
                                                                          aloe.Left.Height, aloe.Match(), 2.0 / 3);
    std::printf("%s: %.1f %% bad, %.1f %% covered\n", WarpMethodName(warp), 100 * score.BadRate, 100 * score.Coverage);
    rates[warp == TWarpMethod::Epipolar] = score.BadRate;
    if (warp == TWarpMethod::None) {
      EXPECT_EQ(score.Coverage, 1.0);
    }
  }
  EXPECT_LT(rates[0], 0.15);
  EXPECT_LT(rates[1], rates[0] + 0.05);
}

TEST(ReconstructCommand, OffersTheWarpsAndMatchersAndRefusesTooFewPairs) {
  if (!std::filesystem::exists(SQ_CLI_PATH)) GTEST_SKIP() << "stereoquill-cli is not built";
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("sq_better_depth_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  TLayeredScene scene;
  scene.image1.SaveToFile((dir / "a.bmp").string());
  scene.image2.SaveToFile((dir / "b.bmp").string());
  std::ofstream(dir / "pairs.txt") << "20 10 16 10\n140 110 136 110\n80 50 68 50\n";
  auto run = [&](const std::string& arguments) {
    const std::string command = std::string(SQ_CLI_PATH) + " reconstruct --quiet --image1 " + (dir / "a.bmp").string() +
                                " --image2 " + (dir / "b.bmp").string() + " --points " + (dir / "pairs.txt").string() +
                                " -o " + (dir / "m.ply").string() + arguments + " >" + (dir / "out").string() + " 2>" +
                                (dir / "err").string();
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(run(" --warp none --matcher sgm --d 0.5"), 0);
  EXPECT_TRUE(fs::exists(dir / "m.ply"));
  EXPECT_EQ(run(" --warp epipolar"), 1);
  EXPECT_EQ(ReadFile((dir / "err").string()).str(),
            "stereoquill-cli: The epipolar warp needs at least 8 point pairs, not 3\n");
  EXPECT_EQ(run(" --matcher fast"), 2);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace sq
