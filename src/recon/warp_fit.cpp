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

// The terms of points i to i + 3 under the transform whose entries e holds, with the
// operations of Term.
__attribute__((target("avx2"))) inline __m256d Terms(const TWarpFitContext& c, size_t i, const __m256d* e) {
  const __m256d x = _mm256_loadu_pd(c.X2.data() + i), y = _mm256_loadu_pd(c.Y2.data() + i);
  const __m256d r = _mm256_div_pd(_mm256_set1_pd(1.0), Affine(x, y, e + 6));
  const __m256d dx = _mm256_sub_pd(_mm256_mul_pd(Affine(x, y, e), r), _mm256_loadu_pd(c.X1.data() + i));
  const __m256d dy = _mm256_sub_pd(_mm256_mul_pd(Affine(x, y, e + 3), r), _mm256_loadu_pd(c.Y1.data() + i));
  return _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(0.1), _mm256_mul_pd(dx, dx)), _mm256_mul_pd(dy, dy));
}

// The sums of `count` transforms over all points, four terms at a time; each sum
// itself stays in point order.  That order makes a sum one long chain of dependent
// additions, so two sums made together take little longer than one.
template <int count>
__attribute__((target("avx2"))) void SumAvx2(const TWarpFitContext& c, const PointTransform* m, double* sums) {
  __m256d e[count][9];
  for (int k = 0; k < count; ++k)
    for (int i = 0; i < 9; ++i) e[k][i] = _mm256_set1_pd(m[k][static_cast<size_t>(i)]);
  alignas(32) double terms[count][4];
  double sum[count] = {};
  size_t i = 0;
  for (; i + 4 <= c.X1.size(); i += 4) {
    for (int k = 0; k < count; ++k) _mm256_store_pd(terms[k], Terms(c, i, e[k]));
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < count; ++k) sum[k] += terms[k][j];
  }
  for (int k = 0; k < count; ++k) sums[k] = SumScalar(c, m[k], i, sum[k]);
}

#endif

// The costs of `count` parameter vectors, as PointPairCost defines them.
template <int count>
void CostsOf(const TWarpFitContext& context, const std::span<const double>* params, double* costs) {
  PointTransform m[count];
  for (int k = 0; k < count; ++k) m[k] = TransformFromParameters(params[k], context.Width2, context.Height2);
#ifdef SQ_HAVE_X86
  if (HaveAvx2())
    SumAvx2<count>(context, m, costs);
  else
#endif
    for (int k = 0; k < count; ++k) costs[k] = SumScalar(context, m[k], 0, 0.0);
  for (int k = 0; k < count; ++k)
    if (!std::isfinite(costs[k])) costs[k] = kFailedCost;
}

}  // namespace

double PointPairCost(const TWarpFitContext& context, std::span<const double> params) {
  double cost;
  CostsOf<1>(context, &params, &cost);
  return cost;
}

void PointPairCosts(const TWarpFitContext& context, std::span<const double> a, std::span<const double> b,
                    double costs[2]) {
  const std::span<const double> params[2] = {a, b};
  CostsOf<2>(context, params, costs);
}

TWarpFit FitWarpTransform(std::span<const PointPair> pairs, int width2, int height2) {
  const TWarpFitContext context(pairs, width2, height2);
  PointTransform params = kIdentityTransform;
  TWarpFit fit;
  const TCostFunctions cost{
      [&context](std::span<const double> p) { return PointPairCost(context, p); },
      [&context](std::span<const double> a, std::span<const double> b, double costs[2]) {
        PointPairCosts(context, a, b, costs);
      }};
  fit.Cost = RestartMinimize(params, cost, 0.1, 1000000, 0.0, 15, 0.3);
  fit.Transform = TransformFromParameters(params, width2, height2);
  return fit;
}

std::string PointErrorText(double cost) { return "Point error: " + FormatFloat("0.0###", cost); }

}  // namespace sq
