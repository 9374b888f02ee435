#include "recon/point_transform.h"

#include <cmath>

#include "base/exception.h"

namespace sq {

TPointF TransformPoint(const PointTransform& m, double x, double y) {
  const double w = x * m[6] + y * m[7] + m[8];
  if (w == 0.0) throw EZeroDivide();
  const double r = 1.0 / w;
  const TPointF p{(x * m[0] + y * m[1] + m[2]) * r, (x * m[3] + y * m[4] + m[5]) * r};
  if (!std::isfinite(p.X) || !std::isfinite(p.Y)) throw EOverflow();
  return p;
}

void InvertTransform(PointTransform& m) {
  // Cofactors C0 ... C8 of the elements m0 ... m8.
  const double c0 = m[4] * m[8] - m[5] * m[7];
  const double c1 = m[5] * m[6] - m[3] * m[8];
  const double c2 = m[3] * m[7] - m[4] * m[6];
  const double c3 = m[2] * m[7] - m[1] * m[8];
  const double c4 = m[0] * m[8] - m[2] * m[6];
  const double c5 = m[1] * m[6] - m[0] * m[7];
  const double c6 = m[1] * m[5] - m[2] * m[4];
  const double c7 = m[2] * m[3] - m[0] * m[5];
  const double c8 = m[0] * m[4] - m[1] * m[3];
  const double det = m[0] * c0 + m[1] * c1 + m[2] * c2;
  if (det == 0.0) throw EZeroDivide();
  m = {c0 / det, c3 / det, c6 / det, c1 / det, c4 / det, c7 / det, c2 / det, c5 / det, c8 / det};
  for (double v : m)
    if (!std::isfinite(v)) throw EOverflow();
}

}  // namespace sq
