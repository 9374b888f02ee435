#include "recon/feature_matches.h"

#include <algorithm>
#include <cmath>

#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include "base/exception.h"
#include "recon/opencv_bitmap.h"
#include "recon/warp_bitmap.h"

namespace sq {

namespace {

struct TFeatures {
  std::vector<cv::KeyPoint> Points;
  cv::Mat Descriptors;
};

TFeatures Detect(const TLinearBitmap& image, uint32_t background) {
  TLinearBitmap converted;
  const TLinearBitmap* source = &image;
  if (image.PixelFormat != pf24bit) {
    converted.Assign(image);
    converted.SetPixelFormat(pf24bit);
    source = &converted;
  }
  cv::Mat grey;
  cv::cvtColor(cvbridge::View(*source), grey, cv::COLOR_BGR2GRAY);
  cv::Mat mask(source->Height, source->Width, CV_8U);
  for (int y = 0; y < source->Height; ++y) {
    const uint8_t* p = source->ScanLine(y);
    uint8_t* m = mask.ptr<uint8_t>(y);
    for (int x = 0; x < source->Width; ++x) m[x] = PixelValue(p + 3 * x) == background ? 0 : 255;
  }
  // The edge between image and background is a strong false feature.
  cv::erode(mask, mask, cv::Mat(), cv::Point(-1, -1), 8);
  TFeatures features;
  cv::SIFT::create()->detectAndCompute(grey, mask, features.Points, features.Descriptors);
  return features;
}

}  // namespace

std::vector<TFeatureMatch> FindFeatureMatches(const TLinearBitmap& image1, const TLinearBitmap& image2,
                                              uint32_t background, double ratio) {
  if (!image1.Present || !image2.Present) return {};
  const TFeatures a = Detect(image1, background), b = Detect(image2, background);
  if (a.Points.size() < 2 || b.Points.size() < 2) return {};
  cv::BFMatcher matcher(cv::NORM_L2);
  std::vector<std::vector<cv::DMatch>> forward, backward;
  matcher.knnMatch(a.Descriptors, b.Descriptors, forward, 2);
  matcher.knnMatch(b.Descriptors, a.Descriptors, backward, 1);
  std::vector<TFeatureMatch> matches;
  for (const auto& m : forward) {
    if (m.size() < 2 || m[0].distance >= ratio * m[1].distance) continue;
    if (backward[m[0].trainIdx].empty() || backward[m[0].trainIdx][0].trainIdx != m[0].queryIdx) continue;
    const cv::Point2f p = a.Points[m[0].queryIdx].pt, q = b.Points[m[0].trainIdx].pt;
    matches.push_back({p.x, p.y, q.x, q.y, m[0].distance});
  }
  std::stable_sort(matches.begin(), matches.end(),
                   [](const TFeatureMatch& l, const TFeatureMatch& r) { return l.Distance < r.Distance; });
  return matches;
}

TRowAlignment MeasureRowAlignment(std::span<const TFeatureMatch> matches) {
  if (matches.empty()) return {};
  std::vector<double> offsets;
  for (const TFeatureMatch& m : matches) offsets.push_back(std::fabs(m.Y1 - m.Y2));
  std::sort(offsets.begin(), offsets.end());
  auto quantile = [&](double q) { return offsets[static_cast<size_t>(q * double(offsets.size() - 1) + 0.5)]; };
  return {static_cast<int>(offsets.size()), quantile(0.5), quantile(0.9)};
}

std::vector<PointPair> PointPairsFromMatches(std::span<const TFeatureMatch> matches, int count, int width, int height) {
  constexpr int kCells = 8;
  std::vector<bool> used(matches.size(), false), cellTaken(kCells * kCells, false);
  std::vector<PointPair> pairs;
  auto take = [&](size_t i) {
    const TFeatureMatch& m = matches[i];
    used[i] = true;
    pairs.push_back({static_cast<int32_t>(std::lround(m.X1)), static_cast<int32_t>(std::lround(m.Y1)),
                     static_cast<int32_t>(std::lround(m.X2)), static_cast<int32_t>(std::lround(m.Y2))});
  };
  // Rounds over the grid: each round takes the surest unused match of every cell.
  while (static_cast<int>(pairs.size()) < count) {
    std::fill(cellTaken.begin(), cellTaken.end(), false);
    bool any = false;
    for (size_t i = 0; i < matches.size() && static_cast<int>(pairs.size()) < count; ++i) {
      if (used[i]) continue;
      const int cx = std::clamp(static_cast<int>(matches[i].X1 * kCells / std::max(1, width)), 0, kCells - 1);
      const int cy = std::clamp(static_cast<int>(matches[i].Y1 * kCells / std::max(1, height)), 0, kCells - 1);
      if (cellTaken[cy * kCells + cx]) continue;
      cellTaken[cy * kCells + cx] = true;
      take(i);
      any = true;
    }
    if (!any) break;
  }
  return pairs;
}

}  // namespace sq
