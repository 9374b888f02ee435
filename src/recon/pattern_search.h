// Derivative-free minimisation for the warp fit: a Hooke-Jeeves pattern search
// (R. Hooke, T. A. Jeeves, "Direct search solution of numerical and statistical
// problems", J. ACM 8, 1961) and a restart wrapper that perturbs the best vector
// with Gaussian noise to escape local minima.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace sq {

// A cost to minimise over a parameter vector.
using TCostFunction = std::function<double(std::span<const double> params)>;

// The search never reaches this; the evaluation budget ends it.
constexpr double kUnreachableCost = -1.7e308;

// Local minimisation from params.  Leaves the best vector found in params and
// returns its cost.  budget counts cost evaluations; the search stops when it is
// spent, when the step falls below minStep or when the cost reaches targetCost.
double PatternSearchMinimize(std::span<double> params, double initialStep, double minStep, int64_t budget,
                             double targetCost, const TCostFunction& cost);

// Global minimisation: one local search from params, then runs - 1 more from the
// best vector plus a Gaussian deviate of the given spread (10 * initialStep when
// spread is 0) on every parameter, keeping a run's result only when it is strictly
// better.  The budget is shared equally by the runs.  Reseeds the process-wide
// generator with 0 first, so equal inputs give equal results.  Reports progress
// after each run.  Two runs may search at once, on two threads: the cost must be
// safe to call from both.
double RestartMinimize(std::span<double> params, const TCostFunction& cost, double initialStep, int64_t budget,
                       double minStep, int runs, double spread);

}  // namespace sq
