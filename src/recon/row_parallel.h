// Row loops over several threads.  Rows are handed out one at a time in order, each
// row is computed by exactly one thread with exactly the code a single thread would
// run, so the result does not depend on the number of threads.
#pragma once

#include <functional>

namespace sq {

// How many threads a loop over rows should use: the machine's cores, at most rows.
int RowWorkerCount(int rows);

// Calls body(row, worker) for every row in [0, rows) on up to `workers` threads; the
// calling thread is worker 0 and the only one that reports progress (after each row
// it finishes, as the share of rows done, and 100 at the end).  The first exception
// a row raises stops the loop and is raised again here.
void ForEachRow(int rows, int workers, const std::function<void(int row, int worker)>& body);

}  // namespace sq
