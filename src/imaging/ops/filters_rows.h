// Shared helpers of the pixel operations: a row-parallel loop that gives the same
// bytes as a plain loop, and fast exact halves-to-even rounding for hot loops.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

#include "base/progress.h"

namespace sq {

// Halves to even, like nearbyint, for |value| < 2^51: adding 1.5 * 2^52 pushes the
// fraction out of the mantissa under the default rounding mode.
inline double RoundEven(double value) {
  constexpr double kMagic = 6755399441055744.0;
  return (value + kMagic) - kMagic;
}
inline int RoundEvenInt(double value) { return static_cast<int>(RoundEven(value)); }

inline uint8_t ClampToByte(int value) { return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value)); }

// Round to nearest (halves to even) and clamp to 0..255; NaN gives 0.
inline uint8_t RoundClampByte(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 255.0) return 255;
  return static_cast<uint8_t>(RoundEvenInt(value));
}

// a / b for b > 0, rounded halves to even, exactly.
inline int64_t DivRoundEven(int64_t a, int64_t b) {
  int64_t q = a / b, r = a % b;
  if (r < 0) {
    r += b;
    --q;
  }
  if (2 * r > b || (2 * r == b && (q & 1))) ++q;
  return q;
}

int WorkerCount();

// Maps the 0..100 reports of the work in its scope onto first..last of the handler
// that was installed before, so several passes make one rising bar.
class TProgressRange {
 public:
  TProgressRange(int first, int last);
  ~TProgressRange();
  TProgressRange(const TProgressRange&) = delete;
  TProgressRange& operator=(const TProgressRange&) = delete;

 private:
  ProgressHandler previous_;
};

// Runs rowFunction(row, worker) for every row in 0..rows - 1, spread over the cores.
// Each row must depend only on its inputs, so the result equals a plain loop; worker
// (0..WorkerCount() - 1) indexes per-thread scratch space.  Workers take runs of
// consecutive rows in increasing order, so a worker may reuse what it computed for
// its previous row.  Progress is reported from the calling thread only, as rows
// finish; the last report is 100.  Small jobs (rows * rowCost below a threshold) run
// on the calling thread alone.
template <class RowFunction>
void ForEachRow(int rows, int64_t rowCost, bool reportProgress, RowFunction&& rowFunction) {
  if (rows <= 0) return;
  int workers = WorkerCount();
  if (int64_t(rows) * rowCost < 200000 || rows < 2) workers = 1;
  workers = std::min(workers, rows);
  if (workers == 1) {
    for (int row = 0; row < rows; ++row) {
      rowFunction(row, 0);
      if (reportProgress) ReportRowProgress(row, rows);
    }
    return;
  }
  // Runs small enough to balance the load, large enough to keep rows together.
  const int run = std::max(1, rows / (workers * 16));
  std::atomic<int> next{0};
  std::atomic<int> done{0};
  std::vector<std::exception_ptr> errors(static_cast<size_t>(workers));
  auto work = [&](int worker) {
    try {
      for (int first; (first = next.fetch_add(run)) < rows;) {
        const int last = std::min(first + run, rows);
        for (int row = first; row < last; ++row) rowFunction(row, worker);
        const int finished = done.fetch_add(last - first) + (last - first);
        if (worker == 0 && reportProgress && finished < rows) ReportRowProgress(finished - 1, rows);
      }
    } catch (...) {
      errors[static_cast<size_t>(worker)] = std::current_exception();
      next.store(rows);
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(workers - 1));
  for (int w = 1; w < workers; ++w) threads.emplace_back(work, w);
  work(0);
  for (auto& thread : threads) thread.join();
  for (auto& error : errors)
    if (error) std::rethrow_exception(error);
  if (reportProgress) ReportRowProgress(rows - 1, rows);
}

}  // namespace sq
