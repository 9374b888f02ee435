#include "imaging/ops/resample_kernel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#ifdef __x86_64__
#include <immintrin.h>
#endif

#include "base/cpu_features.h"
#include "base/exception.h"
#include "imaging/ops/filters_rows.h"
#include "imaging/ops/resample.h"
#include "imaging/ops/rotate.h"

namespace sq {

namespace {

// A single target sample: the rounded mean of the line.
class TMeanFilter : public TLineFilter {
 public:
  explicit TMeanFilter(int n) : n_(n) {}
  void Apply(const uint8_t* source, uint8_t* target, std::vector<double>&) const override {
    int64_t sum = 0;
    for (int i = 0; i < n_; ++i) sum += source[i];
    target[0] = static_cast<uint8_t>(DivRoundEven(sum, n_));
  }

 private:
  int n_;
};

class TLowPassFilter : public TLineFilter {
 public:
  TLowPassFilter(int n, int m) : m_(m) {
    const double r = double(m) / n;
    k_ = static_cast<int>(std::ceil(r / 2));
    centre_ = 1 / r;
    side_ = k_ > 0 ? (1 - 1 / r) / (2 * k_) : 0.0;
    // Source index of every position j - k .. j + k the line can reach.
    index_.resize(size_t(m) + 2 * k_);
    for (int t = -k_; t < m + k_; ++t) {
      const double position = double(int64_t(t) * (n - 1)) / (m - 1);
      index_[size_t(t + k_)] = static_cast<int>(std::clamp<double>(RoundEven(position), 0, n - 1));
    }
  }

  void Apply(const uint8_t* source, uint8_t* target, std::vector<double>& scratch) const override {
    // Window sums from running totals over the sampled positions (exact integers).
    scratch.resize(index_.size() + 1);
    double* prefix = scratch.data();
    prefix[0] = 0;
    for (size_t t = 0; t < index_.size(); ++t) prefix[t + 1] = prefix[t] + source[index_[t]];
    for (int j = 0; j < m_; ++j) {
      const int centre = source[index_[size_t(j + k_)]];
      const double sides = prefix[size_t(j + 2 * k_ + 1)] - prefix[size_t(j)] - centre;
      target[j] = RoundClampByte(centre_ * centre + side_ * sides);
    }
  }

 private:
  int m_, k_;
  double centre_, side_;
  std::vector<int> index_;
};

class TSplineFilter : public TLineFilter {
 public:
  TSplineFilter(int n, int m) : n_(n), m_(m) {
    h_ = double(m - 1) / (n - 1);
    // Tridiagonal elimination factors of M[i-1] + 4 M[i] + M[i+1] = rhs, natural ends.
    factor_.assign(size_t(n), 0.0);
    double previous = 0.0;
    for (int i = 1; i < n - 1; ++i) {
      factor_[size_t(i)] = 1.0 / (4.0 - previous);
      previous = factor_[size_t(i)];
    }
    interval_.resize(size_t(m));
    a_.resize(size_t(m));
    a3_.resize(size_t(m));
    b3_.resize(size_t(m));
    const double h2 = h_ * h_ / 6;
    for (int x = 0; x < m; ++x) {
      const int i = std::clamp(static_cast<int>(x / h_), 0, n - 2);
      const double a = ((i + 1) * h_ - x) / h_, b = 1 - a;
      interval_[size_t(x)] = i;
      a_[size_t(x)] = a;
      a3_[size_t(x)] = (a * a * a - a) * h2;
      b3_[size_t(x)] = (b * b * b - b) * h2;
    }
  }

  void Apply(const uint8_t* y, uint8_t* target, std::vector<double>& scratch) const override {
    scratch.assign(size_t(n_), 0.0);
    double* M = scratch.data();
    const double scale = 6 / (h_ * h_);
    // Forward sweep keeps the modified right-hand sides in M.
    for (int i = 1; i < n_ - 1; ++i) M[i] = (scale * (y[i - 1] - 2 * y[i] + y[i + 1]) - M[i - 1]) * factor_[size_t(i)];
    for (int i = n_ - 3; i >= 1; --i) M[i] -= factor_[size_t(i)] * M[i + 1];
    for (int x = 0; x < m_; ++x) {
      const int i = interval_[size_t(x)];
      const double a = a_[size_t(x)];
      const double v = a * y[i] + (1 - a) * y[i + 1] + a3_[size_t(x)] * M[i] + b3_[size_t(x)] * M[i + 1];
      target[x] = RoundClampByte(v);
    }
  }

 private:
  int n_, m_;
  double h_;
  std::vector<double> factor_;
  std::vector<int> interval_;
  std::vector<double> a_, a3_, b3_;
};

// Sum of w[k] * p[k] over the 65 taps in four interleaved partial sums (tap k goes to
// sum k mod 4), added as (s0 + s1) + (s2 + s3).  The AVX2 version keeps the four sums
// in the lanes of one register and so adds in exactly the same order.
double TapsScalar(const double* w, const double* p) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  int k = 0;
  for (; k + 4 <= 65; k += 4) {
    s0 += w[k] * p[k];
    s1 += w[k + 1] * p[k + 1];
    s2 += w[k + 2] * p[k + 2];
    s3 += w[k + 3] * p[k + 3];
  }
  for (; k < 65; ++k) s0 += w[k] * p[k];
  return (s0 + s1) + (s2 + s3);
}

#ifdef __x86_64__
__attribute__((target("avx2"))) double TapsAvx2(const double* w, const double* p) {
  __m256d sums = _mm256_setzero_pd();
  for (int k = 0; k + 4 <= 65; k += 4)
    sums = _mm256_add_pd(sums, _mm256_mul_pd(_mm256_loadu_pd(w + k), _mm256_loadu_pd(p + k)));
  alignas(32) double lanes[4];
  _mm256_store_pd(lanes, sums);
  lanes[0] += w[64] * p[64];
  return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}
#endif

double Taps(const double* w, const double* p) {
#ifdef __x86_64__
  if (HaveAvx2()) return TapsAvx2(w, p);
#endif
  return TapsScalar(w, p);
}

class TSincFilter : public TLineFilter {
 public:
  static constexpr int kReach = 32;
  static constexpr int kTaps = 2 * kReach + 1;

  TSincFilter(int n, int m) : n_(n), m_(m) {
    const double step = double(n - 1) / (m - 1);
    base_.resize(size_t(m));
    weights_.resize(size_t(m) * kTaps);
    for (int j = 0; j < m; ++j) {
      const double x = j * step;
      const int whole = static_cast<int>(x);
      const double fraction = x - whole;
      base_[size_t(j)] = whole;
      for (int k = -kReach; k <= kReach; ++k) {
        const double u = fraction - k;
        const double w = std::abs(u) >= 1e-8 ? std::sin(std::numbers::pi * u) / (std::numbers::pi * u) : 1.0;
        weights_[size_t(j) * kTaps + size_t(k + kReach)] = w;
      }
    }
  }

  void Apply(const uint8_t* source, uint8_t* target, std::vector<double>& scratch) const override {
    // The line padded with its end samples, so every tap reads in order.
    scratch.resize(size_t(n_) + 2 * kReach);
    double* padded = scratch.data();
    for (int i = 0; i < kReach; ++i) {
      padded[i] = source[0];
      padded[n_ + kReach + i] = source[n_ - 1];
    }
    for (int i = 0; i < n_; ++i) padded[i + kReach] = source[i];
    for (int j = 0; j < m_; ++j)
      target[j] = RoundClampByte(Taps(weights_.data() + size_t(j) * kTaps, padded + base_[size_t(j)]));
  }

 private:
  int n_, m_;
  std::vector<int> base_;
  std::vector<double> weights_;
};

void ApplyOnce(TLineFilterKind kind, const uint8_t* source, uint8_t* target, int n, int m) {
  if (n < 1 || m < 1) return;
  std::vector<double> scratch;
  TLineFilter::Make(kind, n, m)->Apply(source, target, scratch);
}

// Resamples every row of an 8-bit plane to width m.
void ResampleRows(const TLinearBitmap& plane, TLinearBitmap& out, int m, TLineFilterKind kind) {
  const int n = plane.Width;
  out.New(m, plane.Height, pf8bit);
  const auto filter = TLineFilter::Make(kind, n, m);
  std::vector<std::vector<double>> scratch(WorkerCount());
  ForEachRow(plane.Height, std::max(n, m) * (kind == TLineFilterKind::Sinc ? 65 : 4), true,
             [&](int y, int worker) { filter->Apply(plane.ScanLine(y), out.ScanLine(y), scratch[worker]); });
}

void ResamplePlane(TLinearBitmap& plane, int width, int height, TLineFilterKind kind, int progressFirst,
                   int progressLast) {
  const int middle = (progressFirst + progressLast) / 2;
  TLinearBitmap temp;
  {
    TProgressRange range(progressFirst, middle);
    ResampleRows(plane, temp, width, kind);
  }
  Rotate270(temp);
  {
    TProgressRange range(middle, progressLast);
    ResampleRows(temp, plane, height, kind);
  }
  Rotate90(plane);
}

}  // namespace

std::unique_ptr<TLineFilter> TLineFilter::Make(TLineFilterKind kind, int n, int m) {
  if (n < 1 || m < 1) throw ELinearBitmap("Invalid bitmap size");
  if (m == 1) return std::make_unique<TMeanFilter>(n);
  switch (kind) {
    case TLineFilterKind::LowPass:
      return std::make_unique<TLowPassFilter>(n, m);
    case TLineFilterKind::Spline:
      // One sample is a constant line: its mean is what any of the filters gives.
      if (n == 1) return std::make_unique<TLowPassFilter>(n, m);
      return std::make_unique<TSplineFilter>(n, m);
    case TLineFilterKind::Sinc:
      return std::make_unique<TSincFilter>(n, m);
  }
  throw Exception("Resampling method not implemented");
}

void LowPassLineFilter(const uint8_t* source, uint8_t* target, int n, int m) {
  ApplyOnce(TLineFilterKind::LowPass, source, target, n, m);
}
void SplineLineFilter(const uint8_t* source, uint8_t* target, int n, int m) {
  ApplyOnce(TLineFilterKind::Spline, source, target, n, m);
}
void SincLineFilter(const uint8_t* source, uint8_t* target, int n, int m) {
  ApplyOnce(TLineFilterKind::Sinc, source, target, n, m);
}

void KernelResize(const TLinearBitmap& bitmap, int width, int height, TLinearBitmap& target,
                  TLineFilterKind lineFilter) {
  if (!bitmap.Present || width < 1 || height < 1) {
    if (&target != &bitmap || width < 1 || height < 1) target.Dispose();
    return;
  }
  if (bitmap.PixelFormat != pf8bit && bitmap.PixelFormat != pf24bit) throw ELinearBitmap("Unsupported pixel format");
  if (bitmap.PixelFormat == pf8bit) {
    TLinearBitmap plane(bitmap);
    ResamplePlane(plane, width, height, lineFilter, 0, 100);
    std::memcpy(plane.Palette, bitmap.Palette, 768);
    target.TakeOver(plane);
  } else {
    TLinearBitmap planes[3];
    SplitColorPlanes(bitmap, planes[0], planes[1], planes[2]);
    for (int c = 0; c < 3; ++c) ResamplePlane(planes[c], width, height, lineFilter, c * 100 / 3, (c + 1) * 100 / 3);
    MergeColorPlanes(planes[0], planes[1], planes[2], target);
  }
  ReportProgress(100);
}

}  // namespace sq
