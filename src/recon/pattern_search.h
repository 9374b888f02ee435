// Derivative-free minimisation for the warp fit: a Hooke-Jeeves pattern search
// (R. Hooke, T. A. Jeeves, "Direct search solution of numerical and statistical
// problems", J. ACM 8, 1961) and a restart wrapper that perturbs the best vector
// with Gaussian noise to escape local minima.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <utility>

namespace sq {

// A cost to minimise over a parameter vector.
using TCostFunction = std::function<double(std::span<const double> params)>;
// The same cost at two vectors, each to the last bit what the single cost gives.
using TCostPairFunction = std::function<void(std::span<const double> a, std::span<const double> b, double costs[2])>;

// A cost, and where it can do better than two calls, the cost at two vectors at
// once: each exploratory step tries a coordinate both ways, two evaluations that do
// not depend on each other.
struct TCostFunctions {
  TCostFunctions(TCostFunction one, TCostPairFunction two = {}) : One(std::move(one)), Two(std::move(two)) {}
  TCostFunction One;
  TCostPairFunction Two;  // may be empty
};

// The search never reaches this; the evaluation budget ends it.
constexpr double kUnreachableCost = -1.7e308;

// Local minimisation from params.  Leaves the best vector found in params and
// returns its cost.  budget counts cost evaluations; the search stops when it is
// spent, when the step falls below minStep or when the cost reaches targetCost.
double PatternSearchMinimize(std::span<double> params, double initialStep, double minStep, int64_t budget,
                             double targetCost, const TCostFunctions& cost);

// Global minimisation: one local search from params, then runs - 1 more from the
// best vector plus a Gaussian deviate of the given spread (10 * initialStep when
// spread is 0) on every parameter, keeping a run's result only when it is strictly
// better.  The budget is shared equally by the runs.  Reseeds the process-wide
// generator with 0 first, so equal inputs give equal results.  Reports progress
// after each run.  Two runs may search at once, on two threads: the cost must be
// safe to call from both.
double RestartMinimize(std::span<double> params, const TCostFunctions& cost, double initialStep, int64_t budget,
                       double minStep, int runs, double spread);

}  // namespace sq
