#include "model3d/renderer_parallel.h"

#include <exception>
#include <mutex>
#include <thread>

namespace sq {

void RunParallel(int parts, const std::function<void(int part)>& body) {
  if (parts <= 1) {
    body(0);
    return;
  }
  std::exception_ptr failure;
  std::mutex failureLock;
  auto guarded = [&](int part) {
    try {
      body(part);
    } catch (...) {
      std::lock_guard<std::mutex> lock(failureLock);
      if (!failure) failure = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(parts - 1));
  try {
    for (int part = 1; part < parts; ++part) threads.emplace_back(guarded, part);
  } catch (...) {
    // No thread to spare: the calling thread does the remaining parts itself.
    for (int part = static_cast<int>(threads.size()) + 1; part < parts; ++part) guarded(part);
  }
  guarded(0);
  for (auto& thread : threads) thread.join();
  if (failure) std::rethrow_exception(failure);
}

void ParallelRanges(int parts, int64_t count, const std::function<void(int64_t begin, int64_t end)>& body) {
  if (count <= 0) return;
  if (parts < 1) parts = 1;
  if (parts > count) parts = static_cast<int>(count);
  RunParallel(parts, [&](int part) {
    const int64_t begin = count * part / parts;
    const int64_t end = count * (part + 1) / parts;
    if (begin < end) body(begin, end);
  });
}

}  // namespace sq
