// Speed of the expression evaluator: a field's formula, a formula re-evaluated for
// each of 256 levels (the colour mapper's use), user functions and the solver.
#include <benchmark/benchmark.h>

#include "numeric/expression.h"
#include "numeric/library.h"

using namespace sq;

namespace {

TSymbolTable& Table() {
  static TSymbolTable table;
  static const bool filled = (AddLibrarySymbols(table), true);
  (void)filled;
  return table;
}

void BM_FieldFormula(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(EvaluateExpression("2*pi*1,5^2+sqrt(2)/3", &Table()));
}
BENCHMARK(BM_FieldFormula);

void BM_FormulaOver256Levels(benchmark::State& state) {
  TSymbolTable& table = Table();
  for (auto _ : state) {
    TScopedSymbolValue x(table, "x"), hx(table, "hx"), count(table, "count", 65536);
    long double sum = 0;
    for (int i = 0; i < 256; ++i) {
      x.SetValue(i);
      hx.SetValue(i * 3);
      sum += EvaluateExpression("255*(hx/count)^0.8+x*0", &table);
    }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_FormulaOver256Levels);

void BM_UserFunctionCall(benchmark::State& state) {
  EvaluateExpression(":sq(x)=x*x; 0", &Table());
  for (auto _ : state) benchmark::DoNotOptimize(EvaluateExpression("sq(3)+sq(4)", &Table()));
}
BENCHMARK(BM_UserFunctionCall);

void BM_SolverRoot(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(EvaluateExpression("num.root(x^2-2, x)", &Table()));
}
BENCHMARK(BM_SolverRoot);

}  // namespace
