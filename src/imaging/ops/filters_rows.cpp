#include "imaging/ops/filters_rows.h"

namespace sq {

int WorkerCount() {
  static const int count = [] {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 8u));
  }();
  return count;
}

TProgressRange::TProgressRange(int first, int last) {
  previous_ = SetProgressHandler(nullptr);
  if (!previous_) return;
  ProgressHandler outer = previous_;
  SetProgressHandler([outer, first, last](int percent) { outer(first + (last - first) * percent / 100); });
}

TProgressRange::~TProgressRange() { SetProgressHandler(std::move(previous_)); }

}  // namespace sq
