// How the renderer shares one drawing between threads.  Triangles, lines and points
// are drawn in array order by every thread, and each thread writes only the rows it
// owns; since a pixel's final value depends only on the order in which primitives
// reach it (the strict depth test keeps the first of equal depths), the picture is
// bit-for-bit the one a single thread draws.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/parallel.h"

namespace sq {

// Runs body(begin, end) over count items split into at most parts contiguous ranges,
// on up to workers threads (0: as many as parts).
void ParallelRanges(int parts, int64_t count, const std::function<void(int64_t begin, int64_t end)>& body,
                    int workers = 0);

// Rows of a frame dealt out to threads in blocks of kBlockRows, round robin, so that
// every thread gets a share of a model drawn in the middle of the frame.
class TRowBands {
 public:
  static constexpr int kBlockShift = 3;  // blocks of 8 rows

  TRowBands() = default;
  TRowBands(int height, int parts, int part) : height_(height), parts_(parts < 1 ? 1 : parts), part_(part) {}

  int Height() const { return height_; }
  bool Owns(int row) const {
    if (row < 0 || row >= height_) return false;
    if (parts_ == 1) return true;
    if ((parts_ & (parts_ - 1)) == 0) return ((row >> kBlockShift) & (parts_ - 1)) == part_;
    return ((row >> kBlockShift) % parts_) == part_;
  }
  // Whether any row of first .. last (inclusive) belongs to this part.
  bool OwnsAnyOf(int first, int last) const {
    if (first < 0) first = 0;
    if (last >= height_) last = height_ - 1;
    if (first > last) return false;
    if (parts_ == 1) return true;
    const int firstBlock = first >> kBlockShift, lastBlock = last >> kBlockShift;
    if (lastBlock - firstBlock + 1 >= parts_) return true;
    if (parts_ == 2) return (firstBlock & 1) == part_;
    for (int block = firstBlock; block <= lastBlock; ++block)
      if (block % parts_ == part_) return true;
    return false;
  }

 private:
  int height_ = 0;
  int parts_ = 1;
  int part_ = 0;
};

}  // namespace sq
