// The benchmarks' entry point: the programs' memory settings first, so that the
// figures are those of a program that runs one job after another.
#include <benchmark/benchmark.h>

#include "base/large_pages.h"

int main(int argc, char** argv) {
  sq::ReuseFreedMemory();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
