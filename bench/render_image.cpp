// Filling a 1280 x 1024 document view from a 24-megapixel photo (6000 x 4000, 24 bits)
// at 1:1, 1:3 and 3:1, as every repaint and scroll step of a document window does;
// each must stay well under one 60 Hz frame (16 ms).  The peer is a plain copy of a
// finished 1280 x 1024 picture: the floor for any renderer of that view.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "imaging/linear_bitmap.h"
#include "imaging/view_render.h"

namespace {

using namespace sq;

constexpr int kViewWidth = 1280;
constexpr int kViewHeight = 1024;

const TLinearBitmap& Photo(TPixelFormat format) {
  static const auto make = [](TPixelFormat f) {
    TLinearBitmap image(6000, 4000, f);
    for (int y = 0; y < image.Height; ++y) {
      uint8_t* p = image.ScanLine(y);
      for (int i = 0; i < image.BytesPerLine; ++i) p[i] = static_cast<uint8_t>((i * 7 + y * 13) ^ (i >> 5));
    }
    if (f == pf8bit)
      for (int i = 0; i < 768; ++i) image.Palette[i] = static_cast<uint8_t>(i / 3);
    return image;
  };
  static const TLinearBitmap color = make(pf24bit);
  static const TLinearBitmap gray = make(pf8bit);
  return format == pf24bit ? color : gray;
}

void RenderView(benchmark::State& state) {
  const int zoom = static_cast<int>(state.range(0));
  const TLinearBitmap& photo = Photo(state.range(1) == 8 ? pf8bit : pf24bit);
  std::vector<uint32_t> view(size_t(kViewWidth) * kViewHeight);
  // A scroll position in the middle of the picture, on a whole magnified pixel.
  const int x = ZoomedExtent(photo.Width, zoom) / 2 / 6 * 6, y = ZoomedExtent(photo.Height, zoom) / 2 / 6 * 6;
  for (auto _ : state) {
    RenderImage(photo, zoom, x, y, view.data(), kViewWidth, kViewHeight, kViewWidth);
    benchmark::DoNotOptimize(view.data());
  }
  state.SetItemsProcessed(state.iterations() * kViewWidth * kViewHeight);
}
BENCHMARK(RenderView)
    ->ArgNames({"zoom", "bits"})
    ->Args({1, 24})
    ->Args({-3, 24})
    ->Args({3, 24})
    ->Args({1, 8})
    ->Unit(benchmark::kMillisecond);

void PeerCopyView(benchmark::State& state) {
  std::vector<uint32_t> source(size_t(kViewWidth) * kViewHeight, 0xFF336699u), view(source.size());
  for (auto _ : state) {
    std::memcpy(view.data(), source.data(), view.size() * sizeof(uint32_t));
    benchmark::DoNotOptimize(view.data());
  }
  state.SetItemsProcessed(state.iterations() * kViewWidth * kViewHeight);
}
BENCHMARK(PeerCopyView)->Unit(benchmark::kMillisecond);

}  // namespace
