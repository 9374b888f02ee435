// Triangulate on 800 random pairs in a 4000 x 3000 image.  Target: under 50 ms.
#include <benchmark/benchmark.h>

#include <random>

#include "project/correspondence_project.h"

namespace {

// Image 2 is image 1 with a small parallax, as in a real stereo pair; with
// fold = true image 2 is unrelated to image 1 (most pairs cross somewhere).
sq::CorrespondenceProject RandomProject(bool fold) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> x(0, 3999), y(0, 2999), dx(-40, 40), dy(-4, 4);
  sq::CorrespondenceProject project;
  while (project.PointCount < sq::kMaxPointPairs) {
    const int x1 = x(rng), y1 = y(rng);
    if (project.FindPoint(1, x1, y1, 0) != 0) continue;
    const int i = project.AddPointPair(x1, y1);
    if (fold)
      project.MovePoint(i, 2, x(rng), y(rng));
    else
      project.MovePoint(i, 2, std::clamp(x1 + dx(rng), 0, 3999), std::clamp(y1 + dy(rng), 0, 2999));
    if (project.FindPoint(2, project.Points[i - 1].x2, project.Points[i - 1].y2, 0) != i) project.DeletePoint(i);
  }
  return project;
}

void BM_Triangulate(benchmark::State& state) {
  sq::CorrespondenceProject project = RandomProject(state.range(0) != 0);
  for (auto _ : state) benchmark::DoNotOptimize(project.Triangulate());
  state.counters["triangles"] = project.TriangleCount;
}

}  // namespace

BENCHMARK(BM_Triangulate)->Arg(0)->ArgName("fold")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Triangulate)->Arg(1)->ArgName("fold")->Unit(benchmark::kMillisecond);
