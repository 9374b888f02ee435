// The choices of method beside the reconstruction's defaults: how the pair is
// brought onto common rows, and how the disparity along those rows is found.
#pragma once

#include <span>
#include <string>

namespace sq {

// How image 2 (and, for Epipolar, image 1) is warped before matching.
enum class TWarpMethod {
  Projective,  // one projective transform fitted to the pairs brings image 2 onto image 1
  None,        // the pair is already rectified: both images as they are, cut to their common size
  Epipolar,    // both images rectified from the fundamental matrix of the pairs (8 pairs or more)
};

// How the disparity map is computed from the warped pair.
enum class TMatcherMethod {
  DynamicProgramming,  // the dispersion map, row by row; Spread and Occlusion steer it
  SemiGlobal,          // semi-global matching, checked both ways, rejected pixels filled
};

// The lists the front ends offer, in this order; the first entry is the default.
std::span<const TWarpMethod> WarpMethods();
std::span<const TMatcherMethod> MatcherMethods();

// The command line's spelling: "projective", "none", "epipolar"; "dp", "sgm".
const char* WarpMethodName(TWarpMethod method);
const char* MatcherMethodName(TMatcherMethod method);
// A short caption for a list in a dialog, and one line on when to pick the method.
const char* WarpMethodCaption(TWarpMethod method);
const char* MatcherMethodCaption(TMatcherMethod method);
const char* WarpMethodHint(TWarpMethod method);
const char* MatcherMethodHint(TMatcherMethod method);

// Reverse of the names; raise an Exception listing the valid names otherwise.
TWarpMethod ParseWarpMethod(const std::string& name);
TMatcherMethod ParseMatcherMethod(const std::string& name);

// The filter size that suits a matcher: the dispersion map needs the median and
// smooth filters (11), the semi-global map is smooth already (1, no filter).
int SuggestedFilterSize(TMatcherMethod method);

}  // namespace sq
