#include "imaging/ops/filters_rows.h"

namespace sq {

TProgressRange::TProgressRange(int first, int last) {
  previous_ = SetProgressHandler(nullptr);
  if (!previous_) return;
  ProgressHandler outer = previous_;
  SetProgressHandler([outer, first, last](int percent) { outer(first + (last - first) * percent / 100); });
}

TProgressRange::~TProgressRange() { SetProgressHandler(std::move(previous_)); }

}  // namespace sq
