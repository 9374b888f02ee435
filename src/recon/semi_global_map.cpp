#include "recon/semi_global_map.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "base/exception.h"
#include "base/progress.h"
#include "recon/dispersion_map.h"
#include "recon/opencv_bitmap.h"
#include "recon/warp_bitmap.h"

namespace sq {

namespace {

constexpr int16_t kRejected = std::numeric_limits<int16_t>::min();

// A 24-bit copy whose background at the ends of each row repeats the nearest image
// pixel, so the matcher sees no false magenta texture along the warp's edges.
cv::Mat Prepared(const TLinearBitmap& image, uint32_t background, cv::Mat* mask) {
  TLinearBitmap converted;
  const TLinearBitmap* source = &image;
  if (image.PixelFormat != pf24bit) {
    converted.Assign(image);
    converted.SetPixelFormat(pf24bit);
    source = &converted;
  }
  cv::Mat out = cvbridge::View(*source).clone();
  if (mask) *mask = cv::Mat(out.rows, out.cols, CV_8U, cv::Scalar(0));
  for (int y = 0; y < out.rows; ++y) {
    uint8_t* row = out.ptr<uint8_t>(y);
    int first = 0, last = out.cols - 1;
    FindRowSpan(row, first, last, background);
    if (last < first) continue;
    for (int x = 0; x < first; ++x) std::copy_n(row + 3 * first, 3, row + 3 * x);
    for (int x = last + 1; x < out.cols; ++x) std::copy_n(row + 3 * last, 3, row + 3 * x);
    if (mask) std::fill_n(mask->ptr<uint8_t>(y) + first, last - first + 1, uint8_t(1));
  }
  return out;
}

// Rejected pixels are mostly occluded ones, which belong to the farther of the two
// surfaces beside them, so each rejected run of a row takes the lower of the two
// accepted disparities at its ends.  Rows with nothing accepted take the row above.
void FillRejected(cv::Mat& disparity) {
  const int w = disparity.cols;
  for (int y = 0; y < disparity.rows; ++y) {
    int16_t* d = disparity.ptr<int16_t>(y);
    for (int x = 0; x < w;) {
      if (d[x] != kRejected) {
        ++x;
        continue;
      }
      int end = x;
      while (end < w && d[end] == kRejected) ++end;
      int16_t value = kRejected;
      if (x > 0) value = d[x - 1];
      if (end < w && (value == kRejected || d[end] < value)) value = d[end];
      if (value == kRejected && y > 0) {
        std::copy_n(disparity.ptr<int16_t>(y - 1), w, d);
        break;
      }
      std::fill(d + x, d + end, value);
      x = end;
    }
  }
}

}  // namespace

TDisparityRange DisparityRangeOfPairs(std::span<const double> disparities, int width) {
  const int eighth = std::max(8, width / 8);
  if (disparities.empty()) return {-eighth, eighth};
  const auto [lo, hi] = std::minmax_element(disparities.begin(), disparities.end());
  // Pairs mark chosen features, not the nearest and farthest parts of the scene.
  const double margin = std::max(8.0, 0.25 * (*hi - *lo));
  const double limit = std::max(1, width);
  return {static_cast<int>(std::floor(std::clamp(*lo - margin, -limit, limit))),
          static_cast<int>(std::ceil(std::clamp(*hi + margin, -limit, limit)))};
}

void ComputeSemiGlobalMap(const TLinearBitmap& image1, const TLinearBitmap& image2, TFloatMap& map, uint32_t background,
                          TDisparityRange range) {
  if (image1.Width != image2.Width || image1.Height != image2.Height)
    throw Exception("The two images must have the same size");
  if (range.Max < range.Min) throw Exception("Empty disparity range");
  // The matcher stores sixteenths of a pixel in 16 bits.
  constexpr int kLimit = 2000;
  range = {std::clamp(range.Min, -kLimit, kLimit - 16), std::clamp(range.Max, -kLimit + 16, kLimit)};
  ReportProgress(0);
  cv::Mat mask;
  const cv::Mat left = Prepared(image1, background, &mask), right = Prepared(image2, background, nullptr);

  // Step 1: the matcher, in its three-way form; numDisparities must be a multiple
  // of 16.  Smoothness penalties as usually chosen for 5 x 5 blocks of 3 channels.
  constexpr int kBlock = 5, kChannels = 3;
  const int count =
      std::min(std::clamp((range.Max - range.Min + 1 + 15) / 16 * 16, 16, (image1.Width + 15) / 16 * 16 + 16),
               (kLimit + 32 - range.Min) / 16 * 16);
  auto matcher = cv::StereoSGBM::create(range.Min, count, kBlock, 8 * kChannels * kBlock * kBlock,
                                        32 * kChannels * kBlock * kBlock, /*disp12MaxDiff=*/1, /*preFilterCap=*/63,
                                        /*uniquenessRatio=*/10, /*speckleWindowSize=*/100, /*speckleRange=*/2,
                                        cv::StereoSGBM::MODE_SGBM_3WAY);
  // The matcher leaves the first range.Min + count columns without a disparity, a
  // fifth of a wide search; repeating the edge columns on the left keeps them.
  const int pad = std::max(0, range.Min + count);
  cv::Mat disparity;
  try {
    cv::Mat paddedLeft, paddedRight, padded;
    cv::copyMakeBorder(left, paddedLeft, 0, 0, pad, 0, cv::BORDER_REPLICATE);
    cv::copyMakeBorder(right, paddedRight, 0, 0, pad, 0, cv::BORDER_REPLICATE);
    matcher->compute(paddedLeft, paddedRight, padded);
    disparity = padded.colRange(pad, padded.cols).clone();
  } catch (const cv::Exception& e) {
    throw Exception("Semi-global matching failed: " + e.err);
  }
  ReportProgress(60);

  // Step 2: rejected pixels (and those outside image 1's data) marked, then filled.
  const int invalid = (range.Min - 1) * 16;
  for (int y = 0; y < disparity.rows; ++y) {
    int16_t* d = disparity.ptr<int16_t>(y);
    const uint8_t* m = mask.ptr<uint8_t>(y);
    for (int x = 0; x < disparity.cols; ++x)
      if (d[x] <= invalid || !m[x]) d[x] = kRejected;
  }
  FillRejected(disparity);
  ReportProgress(90);

  // Step 3: the map, in pixels.
  TFloatMap result(image1.Width, image1.Height);
  for (int y = 0; y < result.Height; ++y) {
    const int16_t* d = disparity.ptr<int16_t>(y);
    const uint8_t* m = mask.ptr<uint8_t>(y);
    double* out = result.ScanLine(y);
    for (int x = 0; x < result.Width; ++x) out[x] = m[x] && d[x] != kRejected ? d[x] / 16.0 : 0.0;
  }
  map.TakeOver(result);
  ReportProgress(100);
}

}  // namespace sq
