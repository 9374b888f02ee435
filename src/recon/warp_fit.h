// The fit of the projective transform that maps image-2 points onto their image-1
// partners.  Horizontal residuals weigh one tenth of vertical ones: the later steps
// measure parallax along rows, so bringing partners onto the same row matters most.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "project/correspondence_project.h"
#include "recon/point_transform.h"

namespace sq {

// The cost of a parameter vector whose evaluation fails (a point at infinity, an
// overflow): large, yet finite so that the search can compare it.
constexpr double kFailedCost = 8.5e307;

// What the cost needs: the pairs, as one array per coordinate, and the size of
// image 2, in whose units the two translation parameters are expressed.
struct TWarpFitContext {
  TWarpFitContext(std::span<const PointPair> pairs, int width2, int height2);
  int Width2 = 0;
  int Height2 = 0;
  std::vector<double> X1, Y1, X2, Y2;
};

// The transform of a parameter vector: m2 times the width and m5 times the height
// of image 2.
PointTransform TransformFromParameters(std::span<const double> params, int width2, int height2);

// Sum over the pairs of 0.1 (u - x1)^2 + (v - y1)^2, (u, v) = (x2, y2) mapped through
// the transform; kFailedCost when any step of the evaluation fails.
double PointPairCost(const TWarpFitContext& context, std::span<const double> params);
// PointPairCost of a and of b, to the last bit, in less time than the two calls.
void PointPairCosts(const TWarpFitContext& context, std::span<const double> a, std::span<const double> b,
                    double costs[2]);

struct TWarpFit {
  PointTransform Transform = kIdentityTransform;
  double Cost = 0;
};

// The fit the reconstruction uses: from the identity, 15 runs sharing 1,000,000
// evaluations, step 0.1, perturbation spread 0.3.  Deterministic.
TWarpFit FitWarpTransform(std::span<const PointPair> pairs, int width2, int height2);

// "Point error: " and the cost in the form "0.0###".
std::string PointErrorText(double cost);

}  // namespace sq
