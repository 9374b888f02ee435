#include "recon/epipolar_warp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "base/exception.h"
#include "recon/opencv_bitmap.h"

namespace sq {

namespace {

cv::Point2d Apply(const cv::Matx33d& h, double x, double y) {
  const cv::Vec3d p = h * cv::Vec3d(x, y, 1);
  return {p[0] / p[2], p[1] / p[2]};
}

bool Finite(const cv::Matx33d& h) {
  for (int i = 0; i < 9; ++i)
    if (!std::isfinite(h.val[i])) return false;
  return std::abs(cv::determinant(h)) > 1e-12;
}

// The row-keeping affine map x' = a x + b y + c, y' = e y + f that brings the
// rectified image 1 back as near as it can to where it was, so that the result
// looks like the photograph and its map reads in nearly image-1 coordinates.
cv::Matx33d BackTowardsImage1(const cv::Matx33d& h1, int width, int height) {
  cv::Matx33d sx = cv::Matx33d::zeros(), sy = cv::Matx33d::zeros();
  cv::Vec3d bx(0, 0, 0), by(0, 0, 0);
  constexpr int kGrid = 9;
  for (int i = 0; i < kGrid; ++i)
    for (int j = 0; j < kGrid; ++j) {
      const double x = (width - 1) * i / double(kGrid - 1), y = (height - 1) * j / double(kGrid - 1);
      const cv::Point2d r = Apply(h1, x, y);
      const cv::Vec3d u(r.x, r.y, 1);
      sx += u * u.t();
      bx += u * x;
      const cv::Vec3d v(r.y, 1, 0);
      sy += v * v.t();
      by += v * y;
    }
  sy(2, 2) = 1;  // y' has no third term
  cv::Vec3d abc, ef;
  cv::solve(sx, bx, abc, cv::DECOMP_SVD);
  cv::solve(sy, by, ef, cv::DECOMP_SVD);
  return cv::Matx33d(abc[0], abc[1], abc[2], 0, ef[0], ef[1], 0, 0, 1);
}

// The box of an image's mapped corners: with autoCrop the second-smallest and
// second-largest coordinate on each axis, as the projective warp crops.
cv::Rect2d MappedBox(const cv::Matx33d& h, int width, int height, bool autoCrop) {
  std::array<double, 4> xs{}, ys{};
  const double cx[] = {0, 0, double(width - 1), double(width - 1)};
  const double cy[] = {0, double(height - 1), double(height - 1), 0};
  for (int i = 0; i < 4; ++i) {
    const cv::Point2d p = Apply(h, cx[i], cy[i]);
    xs[i] = p.x;
    ys[i] = p.y;
  }
  std::sort(xs.begin(), xs.end());
  std::sort(ys.begin(), ys.end());
  const int lo = autoCrop ? 1 : 0, hi = autoCrop ? 2 : 3;
  return {xs[lo], ys[lo], xs[hi] - xs[lo], ys[hi] - ys[lo]};
}

}  // namespace

TEpipolarWarp FitEpipolarWarp(std::span<const PointPair> pairs, int width1, int height1, int width2, int height2,
                              bool autoCrop) {
  if (pairs.size() < size_t(kMinEpipolarPairs))
    throw Exception("The epipolar warp needs at least " + std::to_string(kMinEpipolarPairs) + " point pairs, not " +
                    std::to_string(pairs.size()));
  std::vector<cv::Point2d> points1, points2;
  for (const PointPair& p : pairs) {
    points1.emplace_back(p.x1, p.y1);
    points2.emplace_back(p.x2, p.y2);
  }

  // Step 1: the fundamental matrix, robustly, then refitted to the pairs that agree
  // with it.  Pair positions are whole pixels, so a pair within 1.5 px of its
  // epipolar line agrees.  OpenCV seeds its sampling the same way every time.
  const char* const noGeometry =
      "The point pairs fix no epipolar geometry (are they all on one plane, or mostly wrong?); try the projective "
      "warp";
  std::vector<uchar> mask;
  cv::Mat f = cv::findFundamentalMat(points1, points2, cv::FM_RANSAC, 1.5, 0.999, mask);
  if (f.rows != 3 || f.cols != 3) throw Exception(noGeometry);
  std::vector<cv::Point2d> inliers1, inliers2;
  for (size_t i = 0; i < mask.size(); ++i)
    if (mask[i]) {
      inliers1.push_back(points1[i]);
      inliers2.push_back(points2[i]);
    }
  if (inliers1.size() < size_t(kMinEpipolarPairs)) throw Exception(noGeometry);
  const cv::Mat refined = cv::findFundamentalMat(inliers1, inliers2, cv::FM_8POINT);
  if (refined.rows == 3 && refined.cols == 3) f = refined;

  // Step 2: the rectifying homographies.
  cv::Mat h1Mat, h2Mat;
  if (!cv::stereoRectifyUncalibrated(inliers1, inliers2, f, cv::Size(width1, height1), h1Mat, h2Mat, 0))
    throw Exception(noGeometry);
  cv::Matx33d h1(h1Mat), h2(h2Mat);
  if (!Finite(h1) || !Finite(h2)) throw Exception(noGeometry);

  // Step 3: the same row-keeping correction for both, so image 1 stays nearly in
  // place; then image 2 shifted so the pairs keep their mean horizontal offset.
  const cv::Matx33d back = BackTowardsImage1(h1, width1, height1);
  h1 = back * h1;
  h2 = back * h2;
  double shift = 0;
  for (size_t i = 0; i < inliers1.size(); ++i) {
    const cv::Point2d r1 = Apply(h1, inliers1[i].x, inliers1[i].y), r2 = Apply(h2, inliers2[i].x, inliers2[i].y);
    shift += (r1.x - r2.x) - (inliers1[i].x - inliers2[i].x);
  }
  shift /= double(inliers1.size());
  h2 = cv::Matx33d(1, 0, shift, 0, 1, 0, 0, 0, 1) * h2;
  if (!Finite(h1) || !Finite(h2)) throw Exception(noGeometry);

  // Step 4: image 1's columns and the rows both images cover.
  const cv::Rect2d box1 = MappedBox(h1, width1, height1, autoCrop), box2 = MappedBox(h2, width2, height2, autoCrop);
  const double left = box1.x, right = box1.x + box1.width;
  const double top = std::max(box1.y, box2.y), bottom = std::min(box1.y + box1.height, box2.y + box2.height);
  const char* const noRows = "The rectified images share no rows; check the point pairs";
  if (!(right - left >= 0 && bottom - top >= 0)) throw Exception(noRows);
  if (right - left > kMaxWarpSize || bottom - top > kMaxWarpSize || std::abs(left) > 1e6 || std::abs(top) > 1e6)
    throw Exception("Invalid transformation");
  // The whole pixels inside the box.
  const int areaLeft = static_cast<int>(std::ceil(left)), areaTop = static_cast<int>(std::ceil(top));
  const TCommonArea area{areaLeft, areaTop, static_cast<int>(std::floor(right)) - areaLeft + 1,
                         static_cast<int>(std::floor(bottom)) - areaTop + 1};
  if (area.Width < 1 || area.Height < 1) throw Exception(noRows);

  TEpipolarWarp warp;
  warp.Transform1 = cvbridge::FromMatx(h1);
  warp.Transform2 = cvbridge::FromMatx(h2);
  warp.Area = area;
  warp.Inliers = static_cast<int>(inliers1.size());
  for (size_t i = 0; i < points1.size(); ++i) {
    const double dy = Apply(h1, points1[i].x, points1[i].y).y - Apply(h2, points2[i].x, points2[i].y).y;
    warp.Cost += dy * dy;
  }
  return warp;
}

TEpipolarWarp EpipolarWarp(const TLinearBitmap& image1, const TLinearBitmap& image2, std::span<const PointPair> pairs,
                           uint32_t fillColor, bool autoCrop, TLinearBitmap& result1, TLinearBitmap& result2) {
  if (image1.PixelFormat != pf24bit || image2.PixelFormat != pf24bit) throw ELinearBitmap("Unsupported pixel format");
  const TEpipolarWarp warp = FitEpipolarWarp(pairs, image1.Width, image1.Height, image2.Width, image2.Height, autoCrop);
  const cv::Matx33d toArea(1, 0, -warp.Area.Left, 0, 1, -warp.Area.Top, 0, 0, 1);
  const cv::Scalar fill(fillColor & 0xFF, (fillColor >> 8) & 0xFF, (fillColor >> 16) & 0xFF);
  TLinearBitmap out1(warp.Area.Width, warp.Area.Height, pf24bit), out2(warp.Area.Width, warp.Area.Height, pf24bit);
  // Transparent borders leave the fill wherever no source pixel lands, so the later
  // steps see exactly the background colour there.
  auto resample = [&](const TLinearBitmap& source, const PointTransform& transform, TLinearBitmap& target) {
    cv::Mat out = cvbridge::View(target);
    out.setTo(fill);
    cv::warpPerspective(cvbridge::View(source), out, toArea * cvbridge::ToMatx(transform), out.size(), cv::INTER_LINEAR,
                        cv::BORDER_TRANSPARENT);
  };
  resample(image1, warp.Transform1, out1);
  resample(image2, warp.Transform2, out2);
  result1.TakeOver(out1);
  result2.TakeOver(out2);
  return warp;
}

}  // namespace sq
