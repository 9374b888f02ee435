// The reconstruction's heavy steps on the bundled sample and on maps of its size, and
// the whole command on the sample and on aloe beside OpenCV's semi-global matcher.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>

#include "../tests/support/stereo_truth.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"
#include "project/project_file.h"
#include "recon/disparity_filters.h"
#include "recon/dispersion_map.h"
#include "recon/pipeline.h"
#include "recon/warp_fit.h"
#include "sample_model.h"

namespace sq {
namespace {

using bench::SamplePair;

// The warped pair the dispersion map works on.
TReconstructionPipeline& Warped() {
  static TReconstructionPipeline* pipeline = [] {
    auto* p = new TReconstructionPipeline(SamplePair().Image1, SamplePair().Image2, SamplePair().File.Project);
    p->Warp();
    return p;
  }();
  return *pipeline;
}

void BM_DispersionMap(benchmark::State& state) {
  const auto kernel = static_cast<TDispersionKernel>(state.range(0));
  const int workers = static_cast<int>(state.range(1));
  if (!DispersionKernelAvailable(kernel)) return state.SkipWithError("kernel not available");
  const TLinearBitmap &a = Warped().Warped1(), &b = Warped().Warped2();
  TFloatMap map;
  for (auto _ : state) ComputeDispersionMapWith(a, b, map, kBackgroundColor, 8, 6, kernel, workers);
  // Cells of the whole w x w table per row, as the plain loop would visit them.
  state.counters["cells/s"] =
      benchmark::Counter(double(a.Width) * a.Width * a.Height, benchmark::Counter::kIsIterationInvariantRate);
}
// Kernel (0 the best available, 1 scalar, 2 AVX2) and threads.
BENCHMARK(BM_DispersionMap)->Args({0, 2})->Args({2, 1})->Args({1, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

// A disparity-like map of 1024 x 768: integral slopes and steps with outliers.
TFloatMap DisparityLikeMap() {
  TFloatMap map(1024, 768);
  std::mt19937 random(1);
  for (int y = 0; y < 768; ++y)
    for (int x = 0; x < 1024; ++x) {
      double v = std::floor(20 * std::sin(x / 60.0) + 12 * std::cos(y / 45.0)) + (x > 400 && x < 600 ? 15 : 0);
      if (random() % 50 == 0) v += static_cast<int>(random() % 81) - 40;
      *map.PixelAddress(x, y) = v;
    }
  return map;
}

void BM_MedianFilter(benchmark::State& state) {
  const TFloatMap source = DisparityLikeMap();
  TFloatMap map;
  for (auto _ : state) {
    map = source;
    MedianFilterMap(map, static_cast<int>(state.range(0)));
  }
}
BENCHMARK(BM_MedianFilter)->Arg(11)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MedianFilterSmoothed(benchmark::State& state) {
  // A second press of "Apply filters": the values are no longer whole numbers.
  TFloatMap source = DisparityLikeMap();
  SmoothFilterMap(source, 11);
  TFloatMap map;
  for (auto _ : state) {
    map = source;
    MedianFilterMap(map, 11);
  }
}
BENCHMARK(BM_MedianFilterSmoothed)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SmoothFilter(benchmark::State& state) {
  const TFloatMap source = DisparityLikeMap();
  TFloatMap map;
  for (auto _ : state) {
    map = source;
    SmoothFilterMap(map, static_cast<int>(state.range(0)));
  }
}
BENCHMARK(BM_SmoothFilter)->Arg(11)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WarpFit(benchmark::State& state) {
  std::vector<PointPair> pairs;
  std::mt19937 random(2);
  for (int i = 0; i < state.range(0); ++i) {
    const int x = random() % 1024, y = random() % 768;
    pairs.push_back({x, y, x - 40 + static_cast<int>(random() % 9), y + 6 + static_cast<int>(random() % 5)});
  }
  for (auto _ : state) benchmark::DoNotOptimize(FitWarpTransform(pairs, 1024, 768));
}
BENCHMARK(BM_WarpFit)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- The whole command beside OpenCV's disparity alone ------------------------------
//
// What `stereoquill-cli reconstruct` does with its defaults (projective warp, dp
// matcher, both filters): decode both JPEG files, run the chain, write the M3D (to
// memory here).  The peer is StereoSGBM (numDisparities 128, blockSize 5, as
// bench/opencv_sgbm.py runs it) on the warped pair; the figure to watch is the ratio
// of the two in one run.  Targets: 1.5x on the sample, 2x on aloe (1282 x 1110).

void ReconstructFiles(const std::string& path1, const std::string& path2, const CorrespondenceProject& project) {
  TLinearBitmap image1, image2;
  LoadImagePair(path1, path2, image1, image2);
  TReconstructionPipeline pipeline(image1, image2, project);
  pipeline.BuildModel();
  TMemoryStream model;
  pipeline.Model()->SaveToStream(model);
  benchmark::DoNotOptimize(model.Data().data());
}

// Debian's opencv-doc ships the Middlebury "aloe" pair, perhaps gzip-compressed;
// the pairs come from feature matching confirmed by its truth.
struct TAloeFiles {
  TAloeFiles() {
    namespace fs = std::filesystem;
    testsupport::TAloe aloe;
    if (!testsupport::LoadAloe(aloe)) return;
    const fs::path dir = "/usr/share/doc/opencv-doc/examples/data";
    const fs::path unpacked = fs::temp_directory_path() / ("sq_aloe_" + std::to_string(::getpid()));
    for (const char* name : {"aloeL.jpg", "aloeR.jpg"}) {
      const fs::path path = fs::exists(dir / name) ? dir / name : unpacked / name;
      if (!fs::exists(path)) return;
      (Path1.empty() ? Path1 : Path2) = path.string();
    }
    const std::vector<PointPair> pairs = testsupport::AloePairs(aloe, 60);
    Project.PointCount = static_cast<int32_t>(pairs.size());
    std::copy(pairs.begin(), pairs.end(), Project.Points.begin());
    Present = true;
  }
  bool Present = false;
  std::string Path1, Path2;
  CorrespondenceProject Project;
};

TAloeFiles& AloeFiles() {
  static TAloeFiles files;
  return files;
}

void BM_ReconstructSample(benchmark::State& state) {
  const bench::TSamplePair& sample = SamplePair();
  for (auto _ : state) ReconstructFiles(sample.File.Image1Path, sample.File.Image2Path, sample.File.Project);
}
BENCHMARK(BM_ReconstructSample)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(3);

void BM_ReconstructAloe(benchmark::State& state) {
  if (!AloeFiles().Present) return state.SkipWithError("opencv-doc's aloe pair is not installed");
  for (auto _ : state) ReconstructFiles(AloeFiles().Path1, AloeFiles().Path2, AloeFiles().Project);
}
BENCHMARK(BM_ReconstructAloe)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(3);

// Arg 0: StereoSGBM's default mode, 1: its 3-way mode.
void RunSgbmPeer(benchmark::State& state, const TLinearBitmap& left, const TLinearBitmap& right) {
  const cv::Mat a(left.Height, left.Width, CV_8UC3, left.Map, size_t(left.BytesPerLine));
  const cv::Mat b(right.Height, right.Width, CV_8UC3, right.Map, size_t(right.BytesPerLine));
  auto sgbm = cv::StereoSGBM::create(0, 128, 5);
  if (state.range(0) == 1) sgbm->setMode(cv::StereoSGBM::MODE_SGBM_3WAY);
  state.SetLabel(state.range(0) == 1 ? "StereoSGBM 3-way" : "StereoSGBM");
  cv::Mat disparity;
  sgbm->compute(a, b, disparity);  // warm-up
  for (auto _ : state) sgbm->compute(a, b, disparity);
}

void BM_SampleSgbmPeer(benchmark::State& state) { RunSgbmPeer(state, Warped().Warped1(), Warped().Warped2()); }
BENCHMARK(BM_SampleSgbmPeer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_AloeSgbmPeer(benchmark::State& state) {
  if (!AloeFiles().Present) return state.SkipWithError("opencv-doc's aloe pair is not installed");
  static TReconstructionPipeline* warped = [] {
    static TLinearBitmap image1, image2;
    LoadImagePair(AloeFiles().Path1, AloeFiles().Path2, image1, image2);
    auto* p = new TReconstructionPipeline(image1, image2, AloeFiles().Project);
    p->Warp();
    return p;
  }();
  RunSgbmPeer(state, warped->Warped1(), warped->Warped2());
}
BENCHMARK(BM_AloeSgbmPeer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// Writing the sample's model alone: two deflate streams side by side.
void BM_SaveSampleModel(benchmark::State& state) {
  TSurfaceColorModel& model = bench::SampleReconstruction();
  size_t bytes = 0;
  for (auto _ : state) {
    TMemoryStream out;
    model.SaveToStream(out);
    bytes = out.Data().size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SaveSampleModel)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace
}  // namespace sq
