#include "recon/row_parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/progress.h"

namespace sq {

int RowWorkerCount(int rows) {
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return std::max(1, std::min({cores, rows, 16}));
}

void ForEachRow(int rows, int workers, const std::function<void(int row, int worker)>& body) {
  if (rows <= 0) return;
  workers = std::max(1, std::min(workers, rows));
  std::atomic<int> next{0}, done{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex errorLock;

  auto work = [&](int worker) {
    try {
      while (!failed.load(std::memory_order_relaxed)) {
        const int row = next.fetch_add(1);
        if (row >= rows) return;
        body(row, worker);
        const int finished = done.fetch_add(1) + 1;
        // The progress handler belongs to the calling thread.
        if (worker == 0) ReportRowProgress(finished - 1, rows);
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(errorLock);
      if (!error) error = std::current_exception();
      failed = true;
    }
  };

  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(workers - 1));
  for (int worker = 1; worker < workers; ++worker) {
    try {
      threads.emplace_back(work, worker);
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the started ones share the rows
    }
  }
  work(0);
  for (auto& thread : threads) thread.join();
  if (error) std::rethrow_exception(error);
  ReportRowProgress(rows - 1, rows);
}

}  // namespace sq
