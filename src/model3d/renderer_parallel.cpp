#include "model3d/renderer_parallel.h"

namespace sq {

void ParallelRanges(int parts, int64_t count, const std::function<void(int64_t begin, int64_t end)>& body,
                    int workers) {
  if (count <= 0) return;
  if (parts < 1) parts = 1;
  if (parts > count) parts = static_cast<int>(count);
  if (workers < 1 || workers > parts) workers = parts;
  ForEachRow(
      parts, workers,
      [&](int part, int) {
        const int64_t begin = count * part / parts;
        const int64_t end = count * (part + 1) / parts;
        if (begin < end) body(begin, end);
      },
      false);
}

}  // namespace sq
