// The optional warps and matchers against the default, on the Middlebury "aloe" pair
// (Debian's opencv-doc, with 60 correct pairs from feature matching) and on the
// bundled sample, each beside OpenCV's StereoSGBM on the original pair timed in the
// same run.  Counters: bad = share of the pixels with a known truth whose match is
// more than 2 px off (or not reached at all), rows50 / rows90 = median and 90th
// percentile of the row offset of feature matches between the two warped images,
// wall = RMS distance of the sample's wall vertices from their best plane, in % of
// the wall's own RMS extent.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>

#include "../tests/support/stereo_truth.h"
#include "base/exception.h"
#include "project/project_file.h"
#include "recon/pipeline.h"

namespace sq {
namespace {

using testsupport::TTrueMatch;

constexpr double kBadThreshold = 2.0;

// ---- The two pairs and their truth ------------------------------------------------

struct TAloeCase {
  TAloeCase() {
    present = testsupport::LoadAloe(aloe);
    if (!present) return;
    const std::vector<PointPair> pairs = testsupport::AloePairs(aloe, 60);
    project.PointCount = static_cast<int32_t>(pairs.size());
    std::copy(pairs.begin(), pairs.end(), project.Points.begin());
  }
  bool present = false;
  testsupport::TAloe aloe;
  CorrespondenceProject project;
};

TAloeCase& Aloe() {
  static TAloeCase c;
  return c;
}

struct TSampleCase {
  TSampleCase() {
    const std::string dir = std::string(SQ_SOURCE_DIR) + "/samples";
    file.LoadFromFile(dir + "/sample.kst");
    image1.LoadFromFile(file.Image1Path);
    image2.LoadFromFile(file.Image2Path);
    std::ifstream pfm(dir + "/truth_disparity.pfm", std::ios::binary);
    std::string word;
    pfm >> word >> tw >> th >> word;
    pfm.get();
    truth.resize(size_t(tw) * th);
    for (int y = th - 1; y >= 0; --y) pfm.read(reinterpret_cast<char*>(truth.data() + size_t(y) * tw), 4 * tw);
    std::ifstream text(dir + "/truth.txt");
    while (text >> word)
      if (word == "homography")
        for (double& v : h) text >> v;
  }
  // The truth is given at every second pixel.
  double TruthAt(int x, int y) const { return truth[size_t(y / 2) * tw + x / 2]; }
  TTrueMatch Match() const {
    return [this](int x, int y, double& x2) {
      if (x % 2 || y % 2) return false;
      x2 = TransformPoint(h, x - TruthAt(x, y), y).X;
      return true;
    };
  }
  bool OnWall(int x, int y) const { return std::fabs(TruthAt(x, y) - 43.45) < 0.01; }
  TProjectFile file;
  TLinearBitmap image1, image2;
  int tw = 0, th = 0;
  std::vector<float> truth;
  PointTransform h{};
};

TSampleCase& Sample() {
  static TSampleCase c;
  return c;
}

// ---- Figures of a reconstruction --------------------------------------------------

// RMS distance of the wall's points from their best plane over their RMS distance
// from their centre, with the surface builder's formula for the points.
double WallFlatness(const TReconstructionPipeline& pipeline, const TSampleCase& sample) {
  const TFloatMap& map = pipeline.Map();
  const TCommonArea& area = pipeline.CommonArea();
  const double d = pipeline.Params.D, zf = pipeline.Params.Zf;
  const int cx = map.Width / 2, cy = map.Height / 2;
  std::vector<cv::Point3d> points;
  for (int y = 0; y < sample.image1.Height; y += 4)
    for (int x = 0; x < sample.image1.Width; x += 4) {
      if (!sample.OnWall(x, y)) continue;
      const TPointF frame = TransformPoint(pipeline.Transform1(), x, y);
      const long mx = std::lround(frame.X) - area.Left, my = std::lround(frame.Y) - area.Top;
      if (mx < 0 || my < 0 || mx >= map.Width || my >= map.Height) continue;
      if (PixelValue(pipeline.Warped1().PixelAddress(int(mx), int(my))) == kBackgroundColor) continue;
      const double t = 1 / (*map.PixelAddress(int(mx), int(my)) + d);
      points.emplace_back((mx - cx) * t, (cy - my) * t, -zf * t);
    }
  if (points.size() < 3) return NAN;
  cv::Point3d mean(0, 0, 0);
  for (const auto& p : points) mean += p;
  mean *= 1.0 / double(points.size());
  cv::Matx33d scatter = cv::Matx33d::zeros();
  for (const auto& p : points) {
    const cv::Vec3d q = p - mean;
    scatter += q * q.t();
  }
  cv::Vec3d values;
  cv::Matx33d vectors;
  cv::eigen(scatter, values, vectors);  // descending: the last is the plane's normal
  return 100 * std::sqrt(values[2] / (values[0] + values[1] + values[2]));
}

void ReportScore(benchmark::State& state, const TReconstructionPipeline& pipeline, int width, int height,
                 const TTrueMatch& truth) {
  const testsupport::TTruthScore score =
      testsupport::ScoreAgainstTruth(pipeline, pipeline.Map(), width, height, truth, kBadThreshold);
  state.counters["bad%"] = 100 * score.BadRate;
  state.counters["covered%"] = 100 * score.Coverage;
  const TRowAlignment rows =
      MeasureRowAlignment(FindFeatureMatches(pipeline.Warped1(), pipeline.Warped2(), kBackgroundColor));
  state.counters["rows50"] = rows.Median;
  state.counters["rows90"] = rows.Percentile90;
}

// ---- Ours: the whole chain, warp to model ------------------------------------------

bool RunChain(benchmark::State& state, const TLinearBitmap& image1, const TLinearBitmap& image2,
              const CorrespondenceProject& project, std::unique_ptr<TReconstructionPipeline>& last) {
  const auto warp = static_cast<TWarpMethod>(state.range(0));
  const auto matcher = static_cast<TMatcherMethod>(state.range(1));
  state.SetLabel(std::string(WarpMethodName(warp)) + " " + MatcherMethodName(matcher));
  for (auto _ : state) {
    last = std::make_unique<TReconstructionPipeline>(image1, image2, project);
    last->Params.Warp = warp;
    last->Params.Matcher = matcher;
    // The filters that suit the matcher, as the command line picks them.
    last->Params.MedianSize = last->Params.SmoothSize = SuggestedFilterSize(matcher);
    try {
      last->BuildModel();
    } catch (const EMathError& e) {
      state.SkipWithError(e.what());  // d = 60 does not suit every map
      return false;
    }
  }
  return true;
}

void BM_AloeChain(benchmark::State& state) {
  if (!Aloe().present) return state.SkipWithError("opencv-doc's aloe pair is not installed");
  std::unique_ptr<TReconstructionPipeline> last;
  if (!RunChain(state, Aloe().aloe.Left, Aloe().aloe.Right, Aloe().project, last)) return;
  ReportScore(state, *last, Aloe().aloe.Left.Width, Aloe().aloe.Left.Height, Aloe().aloe.Match());
}

void BM_SampleChain(benchmark::State& state) {
  std::unique_ptr<TReconstructionPipeline> last;
  if (!RunChain(state, Sample().image1, Sample().image2, Sample().file.Project, last)) return;
  ReportScore(state, *last, Sample().image1.Width, Sample().image1.Height, Sample().Match());
  state.counters["wall%"] = WallFlatness(*last, Sample());
}

void AllMethods(benchmark::internal::Benchmark* b) {
  for (int warp = 0; warp < 3; ++warp)
    for (int matcher = 0; matcher < 2; ++matcher) b->Args({warp, matcher});
  b->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(2);
}
BENCHMARK(BM_AloeChain)->Apply(AllMethods);
BENCHMARK(BM_SampleChain)->Apply(AllMethods);

// ---- The peer: StereoSGBM alone on the original pair --------------------------------

// The same search range as ours; the peer's rejected pixels take the value to their
// left (a plain row fill) for the score.
void RunPeer(benchmark::State& state, const TLinearBitmap& image1, const TLinearBitmap& image2,
             const CorrespondenceProject& project, int width, int height, const TTrueMatch& truth) {
  std::vector<double> disparities;
  for (int i = 0; i < project.PointCount; ++i) disparities.push_back(project.Points[i].x1 - project.Points[i].x2);
  const TDisparityRange range = DisparityRangeOfPairs(disparities, image1.Width);
  const int count = (range.Max - range.Min + 1 + 15) / 16 * 16;
  const cv::Mat left(image1.Height, image1.Width, CV_8UC3, image1.Map, size_t(image1.BytesPerLine));
  const cv::Mat right(image2.Height, image2.Width, CV_8UC3, image2.Map, size_t(image2.BytesPerLine));
  auto sgbm = cv::StereoSGBM::create(range.Min, count, 5, 8 * 3 * 25, 32 * 3 * 25, 1, 63, 10, 100, 2,
                                     cv::StereoSGBM::MODE_SGBM_3WAY);
  cv::Mat disparity;
  for (auto _ : state) sgbm->compute(left, right, disparity);

  TFloatMap map(width, height);
  const int invalid = (range.Min - 1) * 16;
  for (int y = 0; y < height; ++y) {
    const int16_t* d = disparity.ptr<int16_t>(y);
    double last = NAN;
    for (int x = 0; x < width; ++x)
      if (d[x] > invalid)
        last = d[x] / 16.0, *map.PixelAddress(x, y) = last;
      else
        *map.PixelAddress(x, y) = last;
    double next = NAN;
    for (int x = width - 1; x >= 0; --x)
      if (std::isnan(*map.PixelAddress(x, y)))
        *map.PixelAddress(x, y) = next;
      else
        next = *map.PixelAddress(x, y);
  }
  // The peer works in image 1's frame: a pipeline without a warp reads it alike.
  CorrespondenceProject none;
  TReconstructionPipeline frame(image1, image2, none);
  frame.Params.Warp = TWarpMethod::None;
  frame.Warp();
  const testsupport::TTruthScore score =
      testsupport::ScoreAgainstTruth(frame, map, width, height, truth, kBadThreshold);
  state.counters["bad%"] = 100 * score.BadRate;
  state.SetLabel("StereoSGBM 3-way, row fill");
}

void BM_AloeSgbmPeer(benchmark::State& state) {
  if (!Aloe().present) return state.SkipWithError("opencv-doc's aloe pair is not installed");
  RunPeer(state, Aloe().aloe.Left, Aloe().aloe.Right, Aloe().project, Aloe().aloe.Left.Width, Aloe().aloe.Left.Height,
          Aloe().aloe.Match());
}
BENCHMARK(BM_AloeSgbmPeer)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(3);

void BM_SampleSgbmPeer(benchmark::State& state) {
  RunPeer(state, Sample().image1, Sample().image2, Sample().file.Project, Sample().image1.Width, Sample().image1.Height,
          Sample().Match());
}
BENCHMARK(BM_SampleSgbmPeer)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace sq
