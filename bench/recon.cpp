// The reconstruction's heavy steps on the bundled sample and on maps of its size.
// bench/opencv_sgbm.py times OpenCV's semi-global matcher on the same warped pair.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

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

// The whole chain on the sample, from the decoded images to the written model.
// bench/opencv_sgbm.py times OpenCV's disparity alone on the same pair: the ratio
// of the two is the figure to watch (process CPU time, as the machine is shared).
void BM_ReconstructSample(benchmark::State& state) {
  for (auto _ : state) {
    TReconstructionPipeline pipeline(SamplePair().Image1, SamplePair().Image2, SamplePair().File.Project);
    pipeline.BuildModel();
    TMemoryStream model;
    pipeline.Model()->SaveToStream(model);
    benchmark::DoNotOptimize(model.Data().data());
  }
}
BENCHMARK(BM_ReconstructSample)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->Iterations(3);

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
