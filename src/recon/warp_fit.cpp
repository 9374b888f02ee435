#include "recon/warp_fit.h"

#include <cmath>

#include "base/cpu_features.h"
#include "base/format.h"
#include "recon/pattern_search.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SQ_HAVE_X86 1
#endif

namespace sq {

PointTransform TransformFromParameters(std::span<const double> params, int width2, int height2) {
  PointTransform m;
  for (size_t i = 0; i < m.size(); ++i) m[i] = params[i];
  m[2] *= width2;
  m[5] *= height2;
  return m;
}

TWarpFitContext::TWarpFitContext(std::span<const PointPair> pairs, int width2, int height2)
    : Width2(width2), Height2(height2) {
  for (const PointPair& pair : pairs) {
    X1.push_back(pair.x1);
    Y1.push_back(pair.y1);
    X2.push_back(pair.x2);
    Y2.push_back(pair.y2);
  }
}

namespace {

// The terms are those of TransformPoint without its checks: IEEE arithmetic
// carries any failure (w = 0, an overflow) into a sum that is not finite.
inline double Term(const PointTransform& m, double x, double y, double x1, double y1) {
  const double r = 1.0 / (x * m[6] + y * m[7] + m[8]);
  const double u = (x * m[0] + y * m[1] + m[2]) * r;
  const double v = (x * m[3] + y * m[4] + m[5]) * r;
  const double dx = u - x1, dy = v - y1;
  return 0.1 * (dx * dx) + dy * dy;
}

double SumScalar(const TWarpFitContext& c, const PointTransform& m, size_t first, double sum) {
  for (size_t i = first; i < c.X1.size(); ++i) sum += Term(m, c.X2[i], c.Y2[i], c.X1[i], c.Y1[i]);
  return sum;
}

#ifdef SQ_HAVE_X86
// (x e[a] + y e[a + 1]) + e[a + 2] for four points.
__attribute__((target("avx2"))) inline __m256d Affine(__m256d x, __m256d y, const __m256d* e) {
  return _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(x, e[0]), _mm256_mul_pd(y, e[1])), e[2]);
}

// Four terms at a time with the same operations; the sum itself stays in order.
__attribute__((target("avx2"))) double SumAvx2(const TWarpFitContext& c, const PointTransform& m) {
  __m256d e[9];
  for (int i = 0; i < 9; ++i) e[i] = _mm256_set1_pd(m[static_cast<size_t>(i)]);
  const __m256d tenth = _mm256_set1_pd(0.1), one = _mm256_set1_pd(1.0);
  alignas(32) double terms[4];
  double sum = 0.0;
  size_t i = 0;
  for (; i + 4 <= c.X1.size(); i += 4) {
    const __m256d x = _mm256_loadu_pd(c.X2.data() + i), y = _mm256_loadu_pd(c.Y2.data() + i);
    const __m256d r = _mm256_div_pd(one, Affine(x, y, e + 6));
    const __m256d dx = _mm256_sub_pd(_mm256_mul_pd(Affine(x, y, e), r), _mm256_loadu_pd(c.X1.data() + i));
    const __m256d dy = _mm256_sub_pd(_mm256_mul_pd(Affine(x, y, e + 3), r), _mm256_loadu_pd(c.Y1.data() + i));
    _mm256_store_pd(terms, _mm256_add_pd(_mm256_mul_pd(tenth, _mm256_mul_pd(dx, dx)), _mm256_mul_pd(dy, dy)));
    sum += terms[0];
    sum += terms[1];
    sum += terms[2];
    sum += terms[3];
  }
  return SumScalar(c, m, i, sum);
}

#endif

}  // namespace

double PointPairCost(const TWarpFitContext& context, std::span<const double> params) {
  const PointTransform m = TransformFromParameters(params, context.Width2, context.Height2);
#ifdef SQ_HAVE_X86
  const double sum = HaveAvx2() ? SumAvx2(context, m) : SumScalar(context, m, 0, 0.0);
#else
  const double sum = SumScalar(context, m, 0, 0.0);
#endif
  return std::isfinite(sum) ? sum : kFailedCost;
}

TWarpFit FitWarpTransform(std::span<const PointPair> pairs, int width2, int height2) {
  const TWarpFitContext context(pairs, width2, height2);
  PointTransform params = kIdentityTransform;
  TWarpFit fit;
  fit.Cost = RestartMinimize(
      params, [&context](std::span<const double> p) { return PointPairCost(context, p); }, 0.1, 1000000, 0.0, 15, 0.3);
  fit.Transform = TransformFromParameters(params, width2, height2);
  return fit;
}

std::string PointErrorText(double cost) { return "Point error: " + FormatFloat("0.0###", cost); }

}  // namespace sq
