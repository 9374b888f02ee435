// The one parallel row loop.  Rows are handed out in increasing order in runs of
// consecutive rows, and each row is computed by exactly one thread with exactly the
// code a single thread would run, so results never depend on the number of threads.
#pragma once

#include <cstdint>
#include <functional>

namespace sq {

// The most threads a loop uses: the machine's cores, at least 1 and at most 16.
int WorkerCount();
// How many threads a loop over `rows` rows should use: WorkerCount(), at most rows.
int RowWorkerCount(int rows);

// Calls body(row, worker) for every row in [0, rows) on up to `workers` threads; the
// calling thread is worker 0, and worker indexes stay below `workers` (for scratch
// space per worker).  Workers take runs of `run` consecutive rows, so a worker may
// reuse what it computed for the row before.  When the system refuses a thread, the
// threads already running and the calling thread share the rows.  With
// reportProgress the calling thread reports the share of rows done, and 100 at the
// end.  The first exception a row raises stops the loop and is raised again here.
// Scratch space per worker that the body writes often (a position, a growing
// vector's end, a search vector) must not share a cache line with another worker's,
// nor sit in the same 128-byte pair of lines: objects side by side in one array or
// one small allocation made each thread several times slower here.
void ForEachRow(int rows, int workers, const std::function<void(int row, int worker)>& body, bool reportProgress = true,
                int run = 1);

// The same spread over WorkerCount() threads in runs that balance the load, except
// for small jobs (rows * rowCost below about 200000 operations), which run on the
// calling thread alone.
template <class RowFunction>
void ForEachRow(int rows, int64_t rowCost, bool reportProgress, RowFunction&& rowFunction) {
  if (rows <= 0) return;
  const int workers = int64_t(rows) * rowCost < 200000 ? 1 : WorkerCount();
  ForEachRow(rows, workers, std::function<void(int, int)>(std::forward<RowFunction>(rowFunction)), reportProgress,
             rows / (workers * 16));
}

// For tests: from now on only `count` more threads start, the following fail as when
// the system has none to spare; a negative count lifts the limit.
void LimitThreadStartsForTesting(int count);

}  // namespace sq
