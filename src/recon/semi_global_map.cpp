#include "recon/semi_global_map.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/calib3d.hpp>

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

// Hirschmueller's fill: every rejected pixel looks along eight directions for the
// nearest accepted disparity and takes the second lowest, which keeps it on the
// far side of a depth edge without trusting a single stray low value.
void FillRejected(cv::Mat& disparity) {
  const int w = disparity.cols, h = disparity.rows;
  constexpr int kDirections = 8;
  static constexpr int kDx[kDirections] = {1, -1, 0, 0, 1, -1, 1, -1};
  static constexpr int kDy[kDirections] = {0, 0, 1, -1, 1, 1, -1, -1};
  std::vector<int16_t> nearest(size_t(w) * h * kDirections, kRejected);
  std::vector<int16_t> along(size_t(w) * h);
  for (int k = 0; k < kDirections; ++k) {
    const int dx = kDx[k], dy = kDy[k];
    // Walk so that the neighbour behind, at (x - dx, y - dy), is done first.
    const int y0 = dy < 0 ? h - 1 : 0, y1 = dy < 0 ? -1 : h, ys = dy < 0 ? -1 : 1;
    const int x0 = dx < 0 ? w - 1 : 0, x1 = dx < 0 ? -1 : w, xs = dx < 0 ? -1 : 1;
    for (int y = y0; y != y1; y += ys) {
      const int16_t* d = disparity.ptr<int16_t>(y);
      for (int x = x0; x != x1; x += xs) {
        int16_t value = d[x];
        if (value == kRejected) {
          const int px = x - dx, py = y - dy;
          value = px >= 0 && px < w && py >= 0 && py < h ? along[size_t(py) * w + px] : kRejected;
        }
        along[size_t(y) * w + x] = value;
        nearest[(size_t(y) * w + x) * kDirections + k] = value;
      }
    }
  }
  int16_t fallback = kRejected;  // the lowest accepted value, for pixels that see none
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (int16_t v = disparity.at<int16_t>(y, x); v != kRejected && (fallback == kRejected || v < fallback))
        fallback = v;
  for (int y = 0; y < h; ++y) {
    int16_t* d = disparity.ptr<int16_t>(y);
    for (int x = 0; x < w; ++x) {
      if (d[x] != kRejected) continue;
      std::array<int16_t, kDirections> seen{};
      int count = 0;
      for (int k = 0; k < kDirections; ++k)
        if (const int16_t v = nearest[(size_t(y) * w + x) * kDirections + k]; v != kRejected) seen[count++] = v;
      std::sort(seen.begin(), seen.begin() + count);
      d[x] = count >= 2 ? seen[1] : count == 1 ? seen[0] : fallback;
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
  ReportProgress(0);
  cv::Mat mask;
  const cv::Mat left = Prepared(image1, background, &mask), right = Prepared(image2, background, nullptr);

  // Step 1: the matcher, in its three-way form; numDisparities must be a multiple
  // of 16.  Smoothness penalties as usually chosen for 5 x 5 blocks of 3 channels.
  constexpr int kBlock = 5, kChannels = 3;
  const int count = std::clamp((range.Max - range.Min + 1 + 15) / 16 * 16, 16, (image1.Width + 15) / 16 * 16 + 16);
  auto matcher = cv::StereoSGBM::create(range.Min, count, kBlock, 8 * kChannels * kBlock * kBlock,
                                        32 * kChannels * kBlock * kBlock, /*disp12MaxDiff=*/1, /*preFilterCap=*/63,
                                        /*uniquenessRatio=*/10, /*speckleWindowSize=*/100, /*speckleRange=*/2,
                                        cv::StereoSGBM::MODE_SGBM_3WAY);
  cv::Mat disparity;
  try {
    matcher->compute(left, right, disparity);
  } catch (const cv::Exception& e) {
    throw Exception("Semi-global matching failed: " + e.err);
  }
  ReportProgress(60);

  // Step 2: rejected pixels (and those outside image 1's data) marked, then filled.
  const int16_t invalid = static_cast<int16_t>((range.Min - 1) * 16);
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
