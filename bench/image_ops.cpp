// Image operations on a 12-megapixel photo-like picture (4000 x 3000, 24 bits):
// resampling, rotation, noise reduction and automatic colour correction.  The
// BM_OpenCV* runs are the peers of the resampling and the free rotation, timed in
// the same process on the same picture (bench/opencv_resize.py times the same calls
// from Python).
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

#include "imaging/linear_bitmap.h"
#include "imaging/ops/adaptive_smooth.h"
#include "imaging/ops/auto_color.h"
#include "imaging/ops/resample.h"
#include "imaging/ops/resample_kernel.h"
#include "imaging/ops/rotate.h"

namespace {

using namespace sq;

// Smooth shading, a few hard edges and sensor-like noise, so that no method meets
// only flat areas.
const TLinearBitmap& Photo() {
  static const TLinearBitmap photo = [] {
    TLinearBitmap image(4000, 3000, pf24bit);
    std::mt19937 random(42);
    std::normal_distribution<double> noise(0.0, 6.0);
    for (int y = 0; y < image.Height; ++y) {
      uint8_t* p = image.ScanLine(y);
      for (int x = 0; x < image.Width; ++x, p += 3) {
        const double sky = 90 + 60 * std::sin(x / 700.0) * std::cos(y / 500.0);
        const bool object = std::hypot(x - 2200.0, y - 1700.0) < 600 || (x > 500 && x < 1200 && y > 1800);
        const double base = object ? 200 - y / 40.0 : sky;
        for (int c = 0; c < 3; ++c)
          p[c] = static_cast<uint8_t>(std::clamp(base * (0.8 + 0.15 * c) + noise(random), 0.0, 255.0));
      }
    }
    return image;
  }();
  return photo;
}

void BM_SmartResize(benchmark::State& state) {
  const TLinearBitmap& photo = Photo();
  const int percent = static_cast<int>(state.range(0));
  TLinearBitmap target;
  for (auto _ : state) {
    SmartResize(photo, target, photo.Width * percent / 100, photo.Height * percent / 100);
    benchmark::DoNotOptimize(target.Map);
  }
}
BENCHMARK(BM_SmartResize)
    ->Arg(50)
    ->Arg(30)
    ->Arg(170)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinWarmUpTime(0.3);

void BM_BilinearResize(benchmark::State& state) {
  const TLinearBitmap& photo = Photo();
  const int percent = static_cast<int>(state.range(0));
  TLinearBitmap target;
  for (auto _ : state) {
    BilinearResize(photo, target, photo.Width * percent / 100, photo.Height * percent / 100);
    benchmark::DoNotOptimize(target.Map);
  }
}
BENCHMARK(BM_BilinearResize)
    ->Arg(50)
    ->Arg(30)
    ->Arg(170)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinWarmUpTime(0.3);

void BM_SincResize(benchmark::State& state) {
  const TLinearBitmap& photo = Photo();
  TLinearBitmap target;
  for (auto _ : state) {
    KernelResize(photo, 1920, 1440, target, TLineFilterKind::Sinc);
    benchmark::DoNotOptimize(target.Map);
  }
}
BENCHMARK(BM_SincResize)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_RotateFree(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    TLinearBitmap image(Photo());
    state.ResumeTiming();
    Rotate(image, 0xFFFFFF, 10 * std::numbers::pi / 180);
    benchmark::DoNotOptimize(image.Map);
  }
}
BENCHMARK(BM_RotateFree)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime()->MinWarmUpTime(0.3);

cv::Mat PhotoMat() {
  const TLinearBitmap& photo = Photo();
  return cv::Mat(photo.Height, photo.Width, CV_8UC3, photo.Map, photo.BytesPerLine);
}

// Args: percent, then the interpolation (cv::INTER_LINEAR or cv::INTER_AREA).
void BM_OpenCVResize(benchmark::State& state) {
  const cv::Mat photo = PhotoMat();
  const int percent = static_cast<int>(state.range(0));
  cv::Mat target;
  for (auto _ : state) {
    // The target is reused from one run to the next, as ours is.
    cv::resize(photo, target, cv::Size(photo.cols * percent / 100, photo.rows * percent / 100), 0, 0,
               static_cast<int>(state.range(1)));
    benchmark::DoNotOptimize(target.data);
  }
}
BENCHMARK(BM_OpenCVResize)
    ->Args({50, cv::INTER_LINEAR})
    ->Args({30, cv::INTER_LINEAR})
    ->Args({170, cv::INTER_LINEAR})
    ->Args({50, cv::INTER_AREA})
    ->Args({30, cv::INTER_AREA})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinWarmUpTime(0.3);

// The free rotation's work done by OpenCV: nearest-neighbour sampling of the source
// onto a canvas of twice the rotated size (the scale folded into the affine map, so
// no upscaled copy is made), then the 2 x 2 mean down to the result, as Rotate does.
void BM_OpenCVRotateFree(benchmark::State& state) {
  const cv::Mat photo = PhotoMat();
  const double a = 10 * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
  const double cx = (photo.cols - 1) / 2.0, cy = (photo.rows - 1) / 2.0;
  double canvasW = 0, canvasH = 0;
  for (const double x : {0.0, 2 * cx})
    for (const double y : {0.0, 2 * cy}) {
      canvasW = std::max(canvasW, std::abs(std::nearbyint(4 * (c * (x - cx) - s * (y - cy)))));
      canvasH = std::max(canvasH, std::abs(std::nearbyint(4 * (s * (x - cx) + c * (y - cy)))));
    }
  const int cw = static_cast<int>(canvasW), ch = static_cast<int>(canvasH);
  // Canvas (x, y) to source, the canvas centre onto the source centre.
  const cv::Matx23d toSource(c / 2, -s / 2, photo.cols / 2.0 - (c * cw - s * ch) / 4, s / 2, c / 2,
                             photo.rows / 2.0 - (s * cw + c * ch) / 4);
  // The canvas is kept from one run to the next (our rotation never stores one); the
  // result is new each time, as ours is.
  cv::Mat canvas(ch, cw, CV_8UC3, cv::Scalar::all(0)), target;
  for (auto _ : state) {
    target.release();
    cv::warpAffine(photo, canvas, toSource, cv::Size(cw, ch), cv::INTER_NEAREST | cv::WARP_INVERSE_MAP,
                   cv::BORDER_CONSTANT, cv::Scalar(255, 255, 255));
    cv::resize(canvas, target, cv::Size(cw / 2, ch / 2), 0, 0, cv::INTER_AREA);
    benchmark::DoNotOptimize(target.data);
  }
}
BENCHMARK(BM_OpenCVRotateFree)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->MinWarmUpTime(0.3);

void BM_AdaptiveSmooth(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    TLinearBitmap image(Photo());
    state.ResumeTiming();
    AdaptiveSmooth(image, 20, static_cast<int>(state.range(0)), false);
    benchmark::DoNotOptimize(image.Map);
  }
}
BENCHMARK(BM_AdaptiveSmooth)->Arg(7)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_AutoColorCorrect(benchmark::State& state) {
  const auto mode = static_cast<TAutoColorMode>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    TLinearBitmap image(Photo());
    state.ResumeTiming();
    AutoColorCorrect(image, {}, mode);
    benchmark::DoNotOptimize(image.Map);
  }
}
BENCHMARK(BM_AutoColorCorrect)
    ->Arg(static_cast<int>(TAutoColorMode::Saturation))
    ->Arg(static_cast<int>(TAutoColorMode::RGBSplit))
    ->Arg(static_cast<int>(TAutoColorMode::Luminance))
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace
