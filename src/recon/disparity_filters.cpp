#include "recon/disparity_filters.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/exception.h"
#include "base/parallel.h"

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

// Runs rowFilter(y, out row, worker) over every row of the map into a new buffer,
// then puts the buffer in place of the target's values (the target may be the map).
template <class RowFilter>
void FilterRows(const TFloatMap& map, TFloatMap& target, int workers, RowFilter&& rowFilter) {
  TFloatMap result(map.Width, map.Height);
  ForEachRow(map.Height, workers, [&](int y, int worker) { rowFilter(y, result.ScanLine(y), worker); });
  target.TakeOver(result);
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

// Whole numbers within this range take the sliding histogram.
constexpr double kHistogramRange = 4096;

// Whether every value is a whole number (never -0.0, whose rank among zeros a
// selection leaves to chance) and the spread fits the histogram; gives the least
// and the greatest.
bool WholeNumbersInRange(const TFloatMap& map, double& least, double& greatest) {
  double lo = 0, hi = 0;
  for (int64_t i = 0; i < map.Count; ++i) {
    const double v = map.Map[i];
    // Infinities would make no bin.
    if (!std::isfinite(v) || v != std::trunc(v) || (v == 0 && std::signbit(v))) return false;
    if (i == 0 || v < lo) lo = v;
    if (i == 0 || v > hi) hi = v;
    if (hi - lo >= kHistogramRange) return false;
  }
  least = lo;
  greatest = hi;
  return true;
}

// The map's values as histogram bins, column after column: the sliding median reads
// whole columns, and in this order a column is a few adjacent bytes instead of one
// cache line per row.
std::vector<uint16_t> ColumnBins(const TFloatMap& map, double least) {
  const int w = map.Width, h = map.Height;
  std::vector<uint16_t> bins(static_cast<size_t>(map.Count));
  ForEachRow(w, h, false, [&](int c, int) {
    uint16_t* column = bins.data() + static_cast<size_t>(c) * static_cast<size_t>(h);
    for (int r = 0; r < h; ++r) column[r] = static_cast<uint16_t>(*map.PixelAddress(c, r) - least);
  });
  return bins;
}

// The median of one output row over whole numbers (T. S. Huang, G. J. Yang,
// G. Y. Tang, "A fast two-dimensional median filtering algorithm", IEEE ASSP 27,
// 1979): a histogram of the window slides along the row, and the bin of the wanted
// rank moves from where it was.  The rank's value is the same number a selection
// finds.
class TSlidingMedian {
 public:
  // bins: ColumnBins of the map, whose bins run from 0 to binCount - 1.
  TSlidingMedian(const uint16_t* bins, int width, int height, size_t binCount, TWindow window, double least)
      : bins_(bins), width_(width), height_(height), window_(window), least_(least), counts_(binCount) {}

  void Row(int y, double* out) {
    const int w = width_;
    y0_ = std::max(0, y + window_.Lo);
    y1_ = std::min(height_ - 1, y + window_.Hi);
    std::fill(counts_.begin(), counts_.end(), 0);
    count_ = below_ = 0;
    bin_ = 0;
    for (int c = 0; c <= std::min(w - 1, window_.Hi); ++c) Column(c, +1);
    for (int x = 0; x < w; ++x) {
      if (x > 0) {
        const int leaving = x - 1 + window_.Lo, entering = x + window_.Hi;
        if (leaving >= 0 && entering < w)
          Replace(leaving, entering);
        else if (leaving >= 0)
          Column(leaving, -1);
        else if (entering < w)
          Column(entering, +1);
      }
      // Rank count / 2 counting from 1, as the selection is asked for.
      const int rank = std::max(1, count_ / 2);
      while (below_ + counts_[bin_] < rank) below_ += counts_[bin_++];
      while (below_ >= rank) below_ -= counts_[--bin_];
      out[x] = least_ + static_cast<double>(bin_);
    }
  }

 private:
  const uint16_t* ColumnAt(int c) const {
    return bins_ + static_cast<size_t>(c) * static_cast<size_t>(height_);
  }

  void Column(int c, int change) {
    const uint16_t* column = ColumnAt(c);
    int below = 0;
    for (int r = y0_; r <= y1_; ++r) {
      counts_[column[r]] += change;
      below += column[r] < bin_;
    }
    below_ += change * below;
    count_ += change * (y1_ - y0_ + 1);
  }

  // One column leaves the window as another enters.  Disparities change little from
  // column to column, and a row where both hold the same value changes nothing:
  // skipping it also spares the chain of updates to one bin, each waiting for the
  // one before.
  void Replace(int leaving, int entering) {
    const uint16_t* out = ColumnAt(leaving);
    const uint16_t* in = ColumnAt(entering);
    int below = 0;
    for (int r = y0_; r <= y1_; ++r) {
      const uint16_t a = out[r], b = in[r];
      if (a == b) continue;
      --counts_[a];
      ++counts_[b];
      below += int(b < bin_) - int(a < bin_);
    }
    below_ += below;
  }

  const uint16_t* bins_;
  int width_, height_;
  TWindow window_;
  double least_;
  std::vector<int> counts_;
  int y0_ = 0, y1_ = 0, count_ = 0, below_ = 0;
  size_t bin_ = 0;
};

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

void MedianFilterMap(TFloatMap& map, int size) { MedianFilterMap(map, map, size); }

void MedianFilterMap(const TFloatMap& map, TFloatMap& target, int size) {
  CheckFilterSize(map, size);
  const TWindow window(size);
  const int w = map.Width, h = map.Height;
  const int workers = RowWorkerCount(h);
  double least = 0, greatest = 0;
  if (WholeNumbersInRange(map, least, greatest)) {
    // A dispersion map as computed: whole disparities of a small range.
    const std::vector<uint16_t> bins = ColumnBins(map, least);
    const auto binCount = static_cast<size_t>(greatest - least) + 1;
    std::vector<std::unique_ptr<TSlidingMedian>> medians(static_cast<size_t>(workers));
    FilterRows(map, target, workers, [&](int y, double* out, int worker) {
      auto& median = medians[static_cast<size_t>(worker)];
      if (!median) median = std::make_unique<TSlidingMedian>(bins.data(), w, h, binCount, window, least);
      median->Row(y, out);
    });
    return;
  }
  std::vector<std::vector<double>> scratch(static_cast<size_t>(workers));
  FilterRows(map, target, workers, [&](int y, double* out, int worker) {
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

void SmoothFilterMap(TFloatMap& map, int size) { SmoothFilterMap(map, map, size); }

void SmoothFilterMap(const TFloatMap& map, TFloatMap& target, int size) {
  CheckFilterSize(map, size);
  const TWindow window(size);
  const int w = map.Width, h = map.Height;
  // Outputs whose window lies inside the row share one vectorised loop.
  const int inner0 = -window.Lo, inner1 = std::min(w - 1, w - 1 - window.Hi);
  const int workers = RowWorkerCount(h);
  std::vector<std::vector<double>> scratch(static_cast<size_t>(workers));
  FilterRows(map, target, workers, [&](int y, double* out, int worker) {
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
