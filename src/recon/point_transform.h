// The projective transform that brings image-2 coordinates onto image 1: a 3 x 3
// matrix m0 ... m8 stored row by row, acting on (x, y, 1).
#pragma once

#include <array>

namespace sq {

using PointTransform = std::array<double, 9>;

constexpr PointTransform kIdentityTransform = {1, 0, 0, 0, 1, 0, 0, 0, 1};

struct TPointF {
  double X = 0;
  double Y = 0;
};

// w = x m6 + y m7 + m8; x' = (x m0 + y m1 + m2) / w; y' = (x m3 + y m4 + m5) / w,
// dividing by multiplying with 1 / w.  Raises EZeroDivide when w = 0 and
// EOverflow when the result is not finite.
TPointF TransformPoint(const PointTransform& m, double x, double y);

// Replaces m by its inverse: the transposed cofactor matrix divided by the
// determinant.  Raises EZeroDivide for a singular matrix.
void InvertTransform(PointTransform& m);

}  // namespace sq
