#include "recon/pattern_search.h"

#include <algorithm>
#include <vector>

#include "base/exception.h"
#include "base/parallel.h"
#include "base/progress.h"
#include "base/random.h"

namespace sq {

namespace {

// The evaluations of one search, counted against its budget.
class TBudgetedCost {
 public:
  TBudgetedCost(const TCostFunctions& cost, int64_t budget) : cost_(cost), remaining_(budget) {}
  double operator()(std::span<const double> params) {
    --remaining_;
    return cost_.One(params);
  }
  void operator()(std::span<const double> a, std::span<const double> b, double costs[2]) {
    remaining_ -= 2;
    if (cost_.Two) {
      cost_.Two(a, b, costs);
    } else {
      costs[0] = cost_.One(a);
      costs[1] = cost_.One(b);
    }
  }
  bool Spent() const { return remaining_ <= 0; }

 private:
  const TCostFunctions& cost_;
  int64_t remaining_;
};

// Tries each coordinate one step up and one step down and keeps whichever move
// lowers the cost most; c is the cost of x on entry and on exit.  down is scratch
// space of x's size.
void ExploratoryMove(std::span<double> x, double& c, double step, TBudgetedCost& cost, std::span<double> down) {
  std::copy(x.begin(), x.end(), down.begin());
  for (size_t i = 0; i < x.size(); ++i) {
    double& xi = x[i];
    const double v = xi;
    xi = v + step;
    down[i] = v - step;
    double costs[2];
    cost(x, down, costs);
    const double c1 = costs[0], c2 = costs[1];
    if (c1 < c && !(c2 < c1)) {
      c = c1;
    } else if (c2 < c) {
      xi = down[i];
      c = c2;
    } else {
      xi = v;
    }
    down[i] = xi;
  }
}

}  // namespace

double PatternSearchMinimize(std::span<double> params, double initialStep, double minStep, int64_t budget,
                             double targetCost, const TCostFunctions& cost) {
  TBudgetedCost evaluate(cost, budget);
  std::span<double> x = params;
  std::vector<double> base(x.begin(), x.end());
  std::vector<double> down(x.size());
  double step = initialStep;

  // Start: the base point is the start vector, then explore around it.
  double c = evaluate(x);
  double cb = c;
  ExploratoryMove(x, c, step, evaluate, down);

  do {
    if (c < cb) {
      // The exploration improved on the base: jump as far again in the same
      // direction (pattern move) and make the explored point the new base.
      cb = c;
      for (size_t i = 0; i < x.size(); ++i) {
        const double old = x[i];
        x[i] = 2.0 * x[i] - base[i];
        base[i] = old;
      }
      c = evaluate(x);
    } else {
      // No progress: return to the base and refine the step.
      c = cb;
      std::copy(base.begin(), base.end(), x.begin());
      step /= 2.0;
    }
    ExploratoryMove(x, c, step, evaluate, down);
  } while (!(evaluate.Spent() || step < minStep || cb <= targetCost));

  if (cb < c) {
    std::copy(base.begin(), base.end(), x.begin());
    return cb;
  }
  return c;
}

double RestartMinimize(std::span<double> params, const TCostFunctions& cost, double initialStep, int64_t budget,
                       double minStep, int runs, double spread) {
  if (runs < 1) throw Exception("RestartMinimize needs at least one run");
  // The same pairs must always give the same fit.
  RandomSeed(0);
  if (spread == 0.0) spread = 10.0 * initialStep;
  const int64_t runBudget = budget / runs;
  const size_t n = params.size();

  double best = PatternSearchMinimize(params, initialStep, minStep, runBudget, kUnreachableCost, cost);
  ReportProgress(100 / runs);
  // Every run's deviate, drawn in run order as one run after the other would.
  std::vector<double> deviates((size_t(runs) - 1) * n);
  for (double& d : deviates) d = RandomGaussian(0.0, spread);
  // A run starts from the best vector so far, which changes only when a run improves
  // on it, and late runs seldom do.  So while one run searches, the next already
  // searches from the same best on another thread; its result stands unless the
  // first improved, in which case it runs again from the new best.
  // The two vectors are written at every step, each by its own thread: 128 bytes
  // apart at least, they never share a cache line (nor a pair of lines).
  constexpr size_t kGap = 16;
  std::vector<double> storage(2 * n + 3 * kGap);
  const std::span<double> trials[2] = {{storage.data() + kGap, n}, {storage.data() + n + 2 * kGap, n}};
  double costs[2];
  for (int run = 1; run < runs;) {
    const int count = std::min(2, runs - run);
    for (int k = 0; k < count; ++k)
      for (size_t i = 0; i < n; ++i) trials[k][i] = params[i] + deviates[(size_t(run) + k - 1) * n + i];
    ForEachRow(
        count, count,
        [&](int k, int) {
          const double c = PatternSearchMinimize(trials[k], initialStep, minStep, runBudget, kUnreachableCost, cost);
          costs[k] = c;
        },
        false);
    for (int k = 0; k < count; ++k) {
      const bool improved = costs[k] < best;
      if (improved) {
        best = costs[k];
        std::copy(trials[k].begin(), trials[k].end(), params.begin());
      }
      ReportProgress((run + 1) * 100 / runs);
      ++run;
      // The run after an improvement started from the old best: it runs again.
      if (improved) break;
    }
  }
  return best;
}

}  // namespace sq
