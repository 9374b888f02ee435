// The one-dimensional minimiser and equation solver of the expression language:
// num.argmin(expression, x), num.min(expression, x), num.root(expression, x) and
// num.solve(left = right, x).  The search starts at the value of "num.Guess".
#pragma once

#include <cstdint>
#include <functional>

#include "numeric/expression.h"

namespace sq {

enum TOptimizationMode : uint8_t {
  omArgMin = 0,  // the x that minimises the expression
  omMin = 1,     // the minimum of the expression
  omRoot = 2,    // the x where the expression is 0
  omSolve = 3,   // the x where both sides of the equation agree
};

struct TSearchResult {
  long double X;
  long double Value;  // f(X)
};

// Pattern search from x0: a step of 1 that grows by 1.1 while it improves, tries the
// other direction when it does not, and halves when neither does; at most 5000 rounds,
// ending early once the step no longer changes x.  A floating-point fault at a trial
// point counts as no improvement (the search just does not go there); a fault at x0
// is raised.
TSearchResult PatternSearch1D(const std::function<long double(long double)>& f, long double x0);

class TOptimizationFunction : public TSymbolicFunction {
 public:
  explicit TOptimizationFunction(TOptimizationMode mode) : mode_(mode) {}
  std::string ClassName() const override { return "TOptimizationFunction"; }
  TOptimizationMode Mode() const { return mode_; }

  long double Evaluate(TSymbolTable& table, std::string_view text, size_t& offset) override;
  std::string ParameterHint() const override;
  std::string Description() const override;

 private:
  TOptimizationMode mode_;
};

}  // namespace sq
