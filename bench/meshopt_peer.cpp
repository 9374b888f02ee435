// Peer for the Melax reduction: meshoptimizer's meshopt_simplify on the same 1000 x
// 1000 height field, reduced to a comparable size (about 20,000 triangles, what a
// 10,000-vertex grid carries), and on the sample's reconstruction reduced to 20,000
// vertices, where ours is timed as the whole simplify command (read the M3D
// file, reduce, write it).  Process CPU time is the figure to compare: the
// machine is shared.  The library is a benchmark peer only: it is opened at
// run time, so nothing in the build links it, and the benchmark is skipped where
// it is not installed.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#if __has_include(<meshoptimizer.h>)
#include <dlfcn.h>
#define SQ_HAVE_MESHOPT 1
#endif

#include "io/memory_stream.h"
#include "model3d/melax_reduce.h"
#include "model3d/surface_color_model.h"
#include "sample_model.h"
#include "terrain.h"

namespace {

#ifdef SQ_HAVE_MESHOPT
using TSimplify = size_t (*)(unsigned int* destination, const unsigned int* indices, size_t indexCount,
                             const float* positions, size_t vertexCount, size_t stride, size_t targetIndexCount,
                             float targetError, unsigned int options, float* resultError);

TSimplify LoadSimplify() {
  for (const char* name : {"libmeshoptimizer.so", "libmeshoptimizer.so.2d"})
    if (void* library = dlopen(name, RTLD_NOW)) return reinterpret_cast<TSimplify>(dlsym(library, "meshopt_simplify"));
  return nullptr;
}

void BM_MeshoptSimplify1MtoAbout10kVertices(benchmark::State& state) {
  const TSimplify simplify = LoadSimplify();
  if (!simplify) {
    state.SkipWithError("meshoptimizer is not installed");
    return;
  }
  sq::TSurfaceColorModel model;
  MakeTerrain(model, 1000, 1000);
  const auto* indices = reinterpret_cast<const unsigned int*>(model.Triangles.data());
  const size_t indexCount = model.Triangles.size() * 3;
  std::vector<unsigned int> out(indexCount);
  size_t result = 0;
  for (auto _ : state) {
    result = simplify(out.data(), indices, indexCount, &model.Vertices[0].X, model.Vertices.size(),
                      sizeof(sq::T3DPoint), 3 * 2 * 10000, 1.0f, 0, nullptr);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["triangles"] = static_cast<double>(result / 3);
}
BENCHMARK(BM_MeshoptSimplify1MtoAbout10kVertices)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(1);

void BM_MeshoptSimplifySampleToAbout20kVertices(benchmark::State& state) {
  const TSimplify simplify = LoadSimplify();
  if (!simplify) {
    state.SkipWithError("meshoptimizer is not installed");
    return;
  }
  const sq::TSurfaceColorModel& model = sq::bench::SampleReconstruction();
  const auto* indices = reinterpret_cast<const unsigned int*>(model.Triangles.data());
  const size_t indexCount = model.Triangles.size() * 3;
  std::vector<unsigned int> out(indexCount);
  size_t result = 0;
  for (auto _ : state) {
    result = simplify(out.data(), indices, indexCount, &model.Vertices[0].X, model.Vertices.size(),
                      sizeof(sq::T3DPoint), 3 * 2 * 20000, 1.0f, 0, nullptr);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["triangles"] = static_cast<double>(result / 3);
}
BENCHMARK(BM_MeshoptSimplifySampleToAbout20kVertices)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(3);
#endif

void BM_SimplifyCommandSampleTo20kVertices(benchmark::State& state) {
  sq::TMemoryStream file;
  sq::bench::SampleReconstruction().SaveToStream(file);
  size_t triangles = 0;
  for (auto _ : state) {
    sq::TSurfaceColorModel model;
    sq::TReadOnlyMemoryStream in(file.Data().data(), file.Data().size());
    model.LoadFromStream(in);
    sq::MelaxReduce(model, 20000);
    sq::TMemoryStream out;
    model.SaveToStream(out);
    triangles = static_cast<size_t>(model.TriangleCount);
  }
  state.counters["triangles"] = static_cast<double>(triangles);
}
BENCHMARK(BM_SimplifyCommandSampleTo20kVertices)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(3);

// Ours on the same input, for the ratio side by side.
void BM_MelaxReduce1MTo10kVertices(benchmark::State& state) {
  size_t triangles = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sq::TSurfaceColorModel model;
    MakeTerrain(model, 1000, 1000);
    state.ResumeTiming();
    sq::MelaxReduce(model, 10000);
    triangles = static_cast<size_t>(model.TriangleCount);
  }
  state.counters["triangles"] = static_cast<double>(triangles);
}
BENCHMARK(BM_MelaxReduce1MTo10kVertices)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
