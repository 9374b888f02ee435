#include "base/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/progress.h"

namespace sq {

namespace {

std::atomic<int> threadStartsLeft{-1};

std::thread StartThread(std::function<void()> work) {
  int left = threadStartsLeft.load();
  while (left > 0 && !threadStartsLeft.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 0) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  return std::thread(std::move(work));
}

}  // namespace

void LimitThreadStartsForTesting(int count) { threadStartsLeft = count < 0 ? -1 : count; }

int WorkerCount() {
  static const int count = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 16u));
  return count;
}

int RowWorkerCount(int rows) { return std::max(1, std::min(WorkerCount(), rows)); }

void ForEachRow(int rows, int workers, const std::function<void(int row, int worker)>& body, bool reportProgress,
                int run) {
  if (rows <= 0) return;
  workers = std::max(1, std::min(workers, rows));
  run = std::max(1, run);
  if (workers == 1) {
    for (int row = 0; row < rows; ++row) {
      body(row, 0);
      if (reportProgress) ReportRowProgress(row, rows);
    }
    return;
  }

  std::atomic<int> next{0}, done{0};
  std::exception_ptr error;
  std::mutex errorLock;
  auto work = [&](int worker) {
    try {
      for (int first; (first = next.fetch_add(run)) < rows;) {
        const int last = std::min(first + run, rows);
        for (int row = first; row < last; ++row) body(row, worker);
        const int finished = done.fetch_add(last - first) + (last - first);
        // The progress handler belongs to the calling thread.
        if (worker == 0 && reportProgress && finished < rows) ReportRowProgress(finished - 1, rows);
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(errorLock);
      if (!error) error = std::current_exception();
      next.store(rows);
    }
  };

  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(workers - 1));
  for (int worker = 1; worker < workers; ++worker) {
    try {
      threads.push_back(StartThread([&work, worker] { work(worker); }));
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the started ones share the rows
    }
  }
  work(0);
  for (auto& thread : threads) thread.join();
  if (error) std::rethrow_exception(error);
  if (reportProgress) ReportRowProgress(rows - 1, rows);
}

}  // namespace sq
