// Image operations on a 12-megapixel photo-like picture (4000 x 3000, 24 bits):
// resampling, rotation, noise reduction and automatic colour correction.
#include <benchmark/benchmark.h>

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
    ->UseRealTime();

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
    ->UseRealTime();

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
BENCHMARK(BM_RotateFree)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

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
