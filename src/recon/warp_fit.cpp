#include "recon/warp_fit.h"

#include <cmath>

#include "base/format.h"
#include "recon/pattern_search.h"

namespace sq {

PointTransform TransformFromParameters(std::span<const double> params, int width2, int height2) {
  PointTransform m;
  for (size_t i = 0; i < m.size(); ++i) m[i] = params[i];
  m[2] *= width2;
  m[5] *= height2;
  return m;
}

double PointPairCost(const TWarpFitContext& context, std::span<const double> params) {
  const PointTransform m = TransformFromParameters(params, context.Width2, context.Height2);
  double sum = 0.0;
  for (const PointPair& pair : context.Pairs) {
    const double x = pair.x2, y = pair.y2;
    // The same operations as TransformPoint, without its checks: IEEE arithmetic
    // carries any failure (w = 0, an overflow) into a sum that is not finite.
    const double r = 1.0 / (x * m[6] + y * m[7] + m[8]);
    const double u = (x * m[0] + y * m[1] + m[2]) * r;
    const double v = (x * m[3] + y * m[4] + m[5]) * r;
    const double dx = u - pair.x1, dy = v - pair.y1;
    sum += 0.1 * (dx * dx) + dy * dy;
  }
  return std::isfinite(sum) ? sum : kFailedCost;
}

TWarpFit FitWarpTransform(std::span<const PointPair> pairs, int width2, int height2) {
  const TWarpFitContext context{pairs, width2, height2};
  PointTransform params = kIdentityTransform;
  TWarpFit fit;
  fit.Cost = RestartMinimize(
      params, [&context](std::span<const double> p) { return PointPairCost(context, p); }, 0.1, 1000000, 0.0, 15,
      0.3);
  fit.Transform = TransformFromParameters(params, width2, height2);
  return fit;
}

std::string PointErrorText(double cost) { return "Point error: " + FormatFloat("0.0###", cost); }

}  // namespace sq
