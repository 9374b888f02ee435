// Shared pieces of the pixel operations: the row loop and rounding helpers of base/,
// and a progress range for operations made of several passes.
#pragma once

#include "base/parallel.h"
#include "base/progress.h"
#include "base/rounding.h"

namespace sq {

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

}  // namespace sq
