// Private to recon/: views of our bitmaps and transforms as OpenCV types.  Nothing
// outside recon/*.cpp includes this header, so OpenCV stays out of every interface.
#pragma once

#include <opencv2/core.hpp>

#include "imaging/linear_bitmap.h"
#include "recon/point_transform.h"

namespace sq::cvbridge {

// A pf24bit bitmap as a blue-green-red matrix sharing its pixels.
inline cv::Mat View(TLinearBitmap& bitmap) {
  return cv::Mat(bitmap.Height, bitmap.Width, CV_8UC3, bitmap.Map, static_cast<size_t>(bitmap.BytesPerLine));
}
// Read-only use only: OpenCV has no const matrix header.
inline cv::Mat View(const TLinearBitmap& bitmap) { return View(const_cast<TLinearBitmap&>(bitmap)); }

inline cv::Matx33d ToMatx(const PointTransform& m) {
  return cv::Matx33d(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]);
}

inline PointTransform FromMatx(const cv::Matx33d& m) {
  return {m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2), m(2, 0), m(2, 1), m(2, 2)};
}

}  // namespace sq::cvbridge
