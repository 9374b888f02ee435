// Model kernels: the Melax reduction of a reconstruction-sized surface, merging the
// duplicate points of a sphere, and VRML export of a sample-sized surface.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "imaging/memory_stream.h"
#include "model3d/melax_reduce.h"
#include "model3d/surface_color_model.h"
#include "model3d/vrml_loader.h"

namespace {

// A w x h height field with some relief, as the reconstruction makes (one vertex
// per pixel, two triangles per cell).
void MakeTerrain(sq::TSurfaceColorModel& m, int w, int h) {
  m.SetVertexCount(w * h);
  m.SetTriangleCount(2 * (w - 1) * (h - 1));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double z = 20 * std::sin(x * 0.02) * std::cos(y * 0.03) + 5 * std::sin(x * 0.11 + y * 0.07) +
                       ((x * 7919 + y * 104729) % 13) * 0.05;
      m.Vertices[y * w + x] = {float(x), float(y), float(z)};
      m.Colors[y * w + x] = static_cast<uint32_t>((x & 0xFF) << 16 | (y & 0xFF) << 8 | 0x40);
    }
  int t = 0;
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x + 1 < w; ++x) {
      const uint32_t a = y * w + x, b = a + 1, c = a + w, d = c + 1;
      m.Triangles[t++] = {a, c, b};
      m.Triangles[t++] = {b, c, d};
    }
}

void BM_MelaxReduce1Mto10k(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    sq::TSurfaceColorModel model;
    MakeTerrain(model, 1000, 1000);
    state.ResumeTiming();
    sq::MelaxReduce(model, 10000);
    benchmark::DoNotOptimize(model.TriangleCount);
  }
}
BENCHMARK(BM_MelaxReduce1Mto10k)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_RemoveDuplicatePointsSphere200(benchmark::State& state) {
  for (auto _ : state) {
    sq::TSurfaceColorModel model;
    // MakeSphere merges the pole and seam copies itself.
    model.MakeSphere(200);
    benchmark::DoNotOptimize(model.VertexCount);
  }
}
BENCHMARK(BM_RemoveDuplicatePointsSphere200)->Unit(benchmark::kMillisecond);

void BM_VrmlWrite1024x768(benchmark::State& state) {
  sq::TSurfaceColorModel model;
  MakeTerrain(model, 1024, 768);
  sq::VRMLExportOptions().WriteNormals = true;
  model.SetFileFormat("bench.wrl");
  size_t bytes = 0;
  for (auto _ : state) {
    sq::TMemoryStream out;
    model.SaveToStream(out);
    bytes = out.Data().size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}
BENCHMARK(BM_VrmlWrite1024x768)->Unit(benchmark::kMillisecond);

}  // namespace
