// Model kernels: the Melax reduction of a reconstruction-sized surface, merging the
// duplicate points of a sphere, and VRML export of a sample-sized surface.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "io/memory_stream.h"
#include "model3d/melax_reduce.h"
#include "model3d/surface_color_model.h"
#include "model3d/vrml_loader.h"
#include "terrain.h"

namespace {

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

// The sphere of MakeSphere before its pole copies are merged.
void MakeRawSphere(sq::TSurfaceColorModel& m, int n) {
  m.SetVertexCount(n * n);
  m.SetTriangleCount(2 * n * (n - 1));
  int t = 0;
  for (int i = 0; i < n; ++i) {
    const double a = double(i) / (n - 1) * M_PI;
    for (int j = 0; j < n; ++j) {
      const double b = double(j) / n * 2 * M_PI;
      const int k = i * n + j;
      m.Vertices[k] = {float(std::cos(b) * std::sin(a)), float(std::sin(b) * std::sin(a)), float(std::cos(a))};
      m.Colors[k] = 0xC0C0C0;
      if (i == 0) continue;
      const uint32_t c = j > 0 ? k - n - 1 : k - 1, d = j > 0 ? k - 1 : k + n - 1;
      m.Triangles[t++] = {uint32_t(k), uint32_t(k - n), c};
      m.Triangles[t++] = {uint32_t(k), c, d};
    }
  }
}

void BM_RemoveDuplicatePointsSphere200(benchmark::State& state) {
  sq::TSurfaceColorModel raw;
  MakeRawSphere(raw, 200);
  for (auto _ : state) {
    state.PauseTiming();
    sq::TSurfaceColorModel model;
    model.SetVertexCount(raw.VertexCount);
    model.SetTriangleCount(raw.TriangleCount);
    model.Vertices = raw.Vertices;
    model.Colors = raw.Colors;
    model.Triangles = raw.Triangles;
    state.ResumeTiming();
    model.RemoveDuplicatePoints();
    benchmark::DoNotOptimize(model.VertexCount);
  }
}
BENCHMARK(BM_RemoveDuplicatePointsSphere200)->Unit(benchmark::kMillisecond);

void BM_VrmlWrite1024x768(benchmark::State& state) {
  sq::TSurfaceColorModel model;
  MakeTerrain(model, 1024, 768);
  sq::TVRMLLoader writer;
  writer.Model = &model;
  writer.Options.WriteNormals = true;
  size_t bytes = 0;
  for (auto _ : state) {
    sq::TMemoryStream out;
    writer.SaveToStream(out);
    bytes = out.Data().size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}
BENCHMARK(BM_VrmlWrite1024x768)->Unit(benchmark::kMillisecond);

}  // namespace
