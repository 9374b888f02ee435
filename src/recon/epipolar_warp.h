// Uncalibrated epipolar rectification: from the point pairs, the fundamental matrix
// (robust to a few wrong pairs), then one homography per image that sends the
// epipoles to infinity along the rows, so corresponding points share a row and no
// parallax is fitted away.  Hartley, "Theory and practice of projective
// rectification", IJCV 35(2), 1999.
#pragma once

#include <span>

#include "imaging/linear_bitmap.h"
#include "project/correspondence_project.h"
#include "recon/point_transform.h"
#include "recon/warp_bitmap.h"

namespace sq {

// The fewest pairs the fundamental matrix can be found from.
constexpr int kMinEpipolarPairs = 8;

struct TEpipolarWarp {
  // Image-1 and image-2 coordinates to the rectified frame; result pixel (x, y)
  // stands for frame position (x + Area.Left, y + Area.Top).
  PointTransform Transform1 = kIdentityTransform;
  PointTransform Transform2 = kIdentityTransform;
  TCommonArea Area;
  // Sum over the pairs of their squared row difference after rectification.
  double Cost = 0;
  // Pairs that agree with the fundamental matrix.
  int Inliers = 0;
};

// The rectifying transforms alone.  The frame follows image 1 as closely as rows in
// common allow (an affine correction that keeps rows), and image 2 is shifted so
// that the pairs keep their mean horizontal offset: the disparity stays close to
// what the photographs show.  The area is image 1's columns (its inner box with
// autoCrop) and the rows both images cover.  Raises an Exception with a clear
// message for fewer than kMinEpipolarPairs pairs, for pairs that fix no epipolar
// geometry, and for an area that is empty or larger than kMaxWarpSize.
TEpipolarWarp FitEpipolarWarp(std::span<const PointPair> pairs, int width1, int height1, int width2, int height2,
                              bool autoCrop);

// Fits and resamples both pf24bit images into the area (bilinear); pixels that no
// source covers get fillColor.  The results are replaced only on success.
TEpipolarWarp EpipolarWarp(const TLinearBitmap& image1, const TLinearBitmap& image2, std::span<const PointPair> pairs,
                           uint32_t fillColor, bool autoCrop, TLinearBitmap& result1, TLinearBitmap& result2);

}  // namespace sq
