#include "recon/disparity_filters.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/exception.h"
#include "recon/row_parallel.h"

namespace sq {

namespace {

// The clipped window of output pixel (x, y) is columns max(0, x + lo) ...
// min(w - 1, x + hi) and rows max(0, y + lo) ... min(h - 1, y + hi).
struct TWindow {
  explicit TWindow(int size) : Lo(-(size / 2)), Hi(-(size / 2) + size - 1) {}
  int Lo, Hi;
};

void CheckFilterSize(const TFloatMap& map, int size) {
  if (size < 1) throw Exception("The filter size must be at least 1");
  if (map.Width < 1 || map.Height < 1) throw Exception("The dispersion map is empty");
}

// Runs rowFilter(y, out row, worker) over every row into a new buffer, then puts
// the buffer in place of the map's values.
template <class RowFilter>
void FilterRows(TFloatMap& map, int workers, RowFilter&& rowFilter) {
  TFloatMap result(map.Width, map.Height);
  ForEachRow(map.Height, workers, [&](int y, int worker) { rowFilter(y, result.ScanLine(y), worker); });
  map.TakeOver(result);
}

// acc[x] += sum over the window columns of one row, for count consecutive outputs
// whose windows lie inside the row; each output adds its values left to right.
void AddWindowRow(double* acc, const double* first, int size, int count) {
  int x = 0;
#if defined(__SSE2__)
  // Eight outputs at a time in registers; each lane keeps its own order of sums.
  for (; x + 8 <= count; x += 8) {
    __m128d s0 = _mm_loadu_pd(acc + x), s1 = _mm_loadu_pd(acc + x + 2);
    __m128d s2 = _mm_loadu_pd(acc + x + 4), s3 = _mm_loadu_pd(acc + x + 6);
    const double* p = first + x;
    for (int dc = 0; dc < size; ++dc, ++p) {
      s0 = _mm_add_pd(s0, _mm_loadu_pd(p));
      s1 = _mm_add_pd(s1, _mm_loadu_pd(p + 2));
      s2 = _mm_add_pd(s2, _mm_loadu_pd(p + 4));
      s3 = _mm_add_pd(s3, _mm_loadu_pd(p + 6));
    }
    _mm_storeu_pd(acc + x, s0);
    _mm_storeu_pd(acc + x + 2, s1);
    _mm_storeu_pd(acc + x + 4, s2);
    _mm_storeu_pd(acc + x + 6, s3);
  }
#endif
  for (; x < count; ++x) {
    double s = acc[x];
    for (int dc = 0; dc < size; ++dc) s += first[x + dc];
    acc[x] = s;
  }
}

}  // namespace

double SelectRank(double* values, int count, int rank) {
  if (count < 1) throw Exception("SelectRank needs at least one value");
  const int k = std::clamp(rank, 1, count) - 1;
  int l = 0, r = count - 1;
  while (l < r) {
    const double pivot = values[l + (r - l) / 2];
    int i = l, j = r;
    do {
      while (values[i] < pivot) ++i;
      while (pivot < values[j]) --j;
      if (i <= j) {
        std::swap(values[i], values[j]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j < k) l = i;
    if (k < i) r = j;
  }
  return values[k];
}

void MedianFilterMap(TFloatMap& map, int size) {
  CheckFilterSize(map, size);
  const TWindow window(size);
  const int w = map.Width, h = map.Height;
  const int workers = RowWorkerCount(h);
  std::vector<std::vector<double>> scratch(static_cast<size_t>(workers));
  FilterRows(map, workers, [&](int y, double* out, int worker) {
    auto& values = scratch[static_cast<size_t>(worker)];
    values.resize(static_cast<size_t>(size) * size);
    const int y0 = std::max(0, y + window.Lo), y1 = std::min(h - 1, y + window.Hi);
    for (int x = 0; x < w; ++x) {
      const int x0 = std::max(0, x + window.Lo), x1 = std::min(w - 1, x + window.Hi);
      double* v = values.data();
      for (int r = y0; r <= y1; ++r) v = std::copy(map.PixelAddress(x0, r), map.PixelAddress(x1 + 1, r), v);
      const int k = static_cast<int>(v - values.data());
      out[x] = SelectRank(values.data(), k, k / 2);
    }
  });
}

void SmoothFilterMap(TFloatMap& map, int size) {
  CheckFilterSize(map, size);
  const TWindow window(size);
  const int w = map.Width, h = map.Height;
  // Outputs whose window lies inside the row share one vectorised loop.
  const int inner0 = -window.Lo, inner1 = std::min(w - 1, w - 1 - window.Hi);
  const int workers = RowWorkerCount(h);
  std::vector<std::vector<double>> scratch(static_cast<size_t>(workers));
  FilterRows(map, workers, [&](int y, double* out, int worker) {
    auto& acc = scratch[static_cast<size_t>(worker)];
    acc.assign(static_cast<size_t>(w), 0.0);
    const int y0 = std::max(0, y + window.Lo), y1 = std::min(h - 1, y + window.Hi);
    for (int r = y0; r <= y1; ++r) {
      const double* row = map.ScanLine(r);
      if (inner0 <= inner1) AddWindowRow(acc.data() + inner0, row, size, inner1 - inner0 + 1);
      for (int x = 0; x < w; ++x) {
        if (x == inner0 && inner0 <= inner1) x = inner1 + 1;
        if (x >= w) break;
        const int x0 = std::max(0, x + window.Lo), x1 = std::min(w - 1, x + window.Hi);
        double s = acc[static_cast<size_t>(x)];
        for (int c = x0; c <= x1; ++c) s += row[c];
        acc[static_cast<size_t>(x)] = s;
      }
    }
    for (int x = 0; x < w; ++x) {
      const int x0 = std::max(0, x + window.Lo), x1 = std::min(w - 1, x + window.Hi);
      out[x] = acc[static_cast<size_t>(x)] / ((y1 - y0 + 1) * (x1 - x0 + 1));
    }
  });
}

}  // namespace sq
