// Software renderer speed: the viewer's picture of a 1000 x 1000 height field (about
// two million triangles, the size of a reconstruction) in an 800 x 600 frame, in
// every render mode.  Target: Gouraud at 30 frames per second or more on two cores
// (the viewer redraws on every mouse move), one thread no slower than before.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "model3d/frame32.h"
#include "model3d/texture_model.h"
#include "model3d/view_settings.h"
#include "sample_model.h"

namespace {

using namespace sq;

// A bumpy, coloured n x n height field with a texture, lit and with back sides shown
// as the viewer shows an opened model.
TTextureModel& HeightField() {
  static std::unique_ptr<TTextureModel> model = [] {
    constexpr int n = 1000;
    auto m = std::make_unique<TTextureModel>();
    m->SetVertexCount(n * n);
    m->SetTriangleCount(2 * (n - 1) * (n - 1));
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        const double x = 2.0 * j / (n - 1) - 1, y = 1 - 2.0 * i / (n - 1);
        const double z = 0.15 * std::sin(6 * x) * std::cos(5 * y) + 0.02 * std::sin(40 * x * y);
        const int k = i * n + j;
        m->Vertices[k] = T3DPoint{float(x), float(y), float(z)};
        m->Colors[k] = (uint32_t(127 + 120 * x) << 16) | (uint32_t(127 + 120 * y) << 8) | uint32_t(127 + 700 * z);
        m->TexCoords[k] = TTexCoord{float(j) / 4, float(i) / 4};
      }
    int t = 0;
    for (int i = 0; i + 1 < n; ++i)
      for (int j = 0; j + 1 < n; ++j) {
        const uint32_t a = uint32_t(i * n + j), b = a + 1, c = a + n, d = c + 1;
        m->Triangles[t++] = T3DTriangle{a, c, d};
        m->Triangles[t++] = T3DTriangle{a, d, b};
      }
    m->Normalize();
    m->Texture.New(n / 4, n / 4, pf24bit);
    for (int64_t i = 0; i < m->Texture.Size; ++i) m->Texture.Map[i] = uint8_t(i * 7 + i / 750);
    return m;
  }();
  return *model;
}

void RenderFrames(benchmark::State& state, uint32_t mode, int threads, bool stereo = false) {
  TTextureModel& model = HeightField();
  TViewSettings settings;
  settings.Width = 800;
  settings.Height = 600;
  settings.RenderMode = mode;
  settings.Stereo = stereo;
  settings.Rotate(0.5, 0.3);
  ApplyViewSettings(settings, model);
  TFrame32Buffer frame(settings.Width, settings.Height);
  auto renderer = MakeRenderer(settings);
  if (threads > 0) renderer->ThreadCount = threads;
  // The viewer's renderer keeps its buffers between redraws: the first redraw,
  // which makes them, is left out.
  RenderView(*renderer, model, settings, frame.Frame());
  for (auto _ : state) {
    RenderView(*renderer, model, settings, frame.Frame());
    benchmark::DoNotOptimize(frame.Frame().Bits);
  }
  state.SetItemsProcessed(state.iterations());  // items/s = frames per second
  state.counters["triangles"] = model.TriangleCount;
}

void BM_Gouraud(benchmark::State& state) { RenderFrames(state, rmGouraud, 0); }
void BM_GouraudOneThread(benchmark::State& state) { RenderFrames(state, rmGouraud, 1); }
void BM_Points(benchmark::State& state) { RenderFrames(state, rmPoints, 0); }
void BM_ColorBlocks(benchmark::State& state) { RenderFrames(state, rmColorBlocks, 0); }
void BM_Wireframe(benchmark::State& state) { RenderFrames(state, rmWireframe, 0); }
void BM_Flat(benchmark::State& state) { RenderFrames(state, rmFlat, 0); }
void BM_Texture(benchmark::State& state) { RenderFrames(state, rmTexture, 0); }
void BM_GouraudTexture(benchmark::State& state) { RenderFrames(state, rmGouraudTexture, 0); }
void BM_GouraudStereo(benchmark::State& state) { RenderFrames(state, rmGouraud, 0, true); }

// One full redraw of the sample's reconstruction in the viewer's window as it
// first opens, Gouraud shaded: what every mouse move costs.  Target: 33 ms.
void BM_ViewerRedrawSampleGouraud(benchmark::State& state) {
  TSurfaceColorModel& model = bench::SampleReconstruction();
  TViewSettings settings;
  settings.RenderMode = rmGouraud;
  settings.Rotate(0.3, 0.4);
  ApplyViewSettings(settings, model);
  TFrame32Buffer frame(settings.Width, settings.Height);
  auto renderer = MakeRenderer(settings);
  RenderView(*renderer, model, settings, frame.Frame());
  for (auto _ : state) {
    RenderView(*renderer, model, settings, frame.Frame());
    benchmark::DoNotOptimize(frame.Frame().Bits);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["triangles"] = model.TriangleCount;
}

BENCHMARK(BM_ViewerRedrawSampleGouraud)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_Gouraud)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_GouraudOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Points)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ColorBlocks)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Wireframe)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Flat)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Texture)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GouraudTexture)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GouraudStereo)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
