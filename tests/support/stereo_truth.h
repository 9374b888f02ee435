// Reconstructions checked against a known truth: the share of image-1 pixels whose
// match in image 2 lands more than a threshold away from the true one, for any warp
// (the map is read in the warp's frame and its match mapped back to image 2), and
// the Middlebury "aloe" pair that Debian's opencv-doc ships with its true disparity.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "imaging/linear_bitmap.h"
#include "imaging/ops/resample.h"
#include "recon/feature_matches.h"
#include "recon/pipeline.h"

namespace sq::testsupport {

// The true image-2 column of image-1 pixel (x, y); false where the truth is unknown.
using TTrueMatch = std::function<bool(int x, int y, double& x2)>;

struct TTruthScore {
  double BadRate = 1;   // share of known pixels off by more than the threshold or not reached
  double Coverage = 0;  // share of known pixels the map covers at all
  int Known = 0;
};

inline TTruthScore ScoreAgainstTruth(const TReconstructionPipeline& pipeline, const TFloatMap& map, int width1,
                                     int height1, const TTrueMatch& truth, double threshold, int step = 1) {
  PointTransform inverse2 = pipeline.Transform();
  InvertTransform(inverse2);
  const TCommonArea& area = pipeline.CommonArea();
  const TLinearBitmap& warped1 = pipeline.Warped1();
  int known = 0, covered = 0, good = 0;
  for (int y = 0; y < height1; y += step)
    for (int x = 0; x < width1; x += step) {
      double x2 = 0;
      if (!truth(x, y, x2)) continue;
      ++known;
      const TPointF frame = TransformPoint(pipeline.Transform1(), x, y);
      const long mx = std::lround(frame.X) - area.Left, my = std::lround(frame.Y) - area.Top;
      if (mx < 0 || my < 0 || mx >= map.Width || my >= map.Height) continue;
      if (PixelValue(warped1.PixelAddress(int(mx), int(my))) == kBackgroundColor) continue;
      ++covered;
      const TPointF match = TransformPoint(inverse2, frame.X - *map.PixelAddress(int(mx), int(my)), frame.Y);
      if (std::fabs(match.X - x2) <= threshold) ++good;
    }
  if (known == 0) return {};
  return {1 - double(good) / known, double(covered) / known, known};
}

// aloeL.jpg, aloeR.jpg and aloeGT.png (the left image's disparity in pixels, 0 where
// unknown), reduced by `scale` with the disparity scaled alike.  Debian may ship
// them gzip-compressed; those are unpacked into a temporary folder first.
struct TAloe {
  TLinearBitmap Left, Right;
  std::vector<double> Truth;  // Left.Width x Left.Height, 0 = unknown
  double TruthAt(int x, int y) const { return Truth[size_t(y) * Left.Width + x]; }
  TTrueMatch Match() const {
    return [this](int x, int y, double& x2) {
      const double d = TruthAt(x, y);
      x2 = x - d;
      return d > 0;
    };
  }
};

inline bool LoadAloe(TAloe& aloe, int scale = 1) {
  namespace fs = std::filesystem;
  const fs::path dir = "/usr/share/doc/opencv-doc/examples/data";
  const char* const names[] = {"aloeL.jpg", "aloeR.jpg", "aloeGT.png"};
  fs::path paths[3];
  for (int i = 0; i < 3; ++i) {
    paths[i] = dir / names[i];
    if (fs::exists(paths[i])) continue;
    const fs::path packed = dir / (std::string(names[i]) + ".gz");
    if (!fs::exists(packed)) return false;
    const fs::path unpacked = fs::temp_directory_path() / ("sq_aloe_" + std::to_string(::getpid()));
    fs::create_directories(unpacked);
    paths[i] = unpacked / names[i];
    if (std::system(("gzip -dc '" + packed.string() + "' > '" + paths[i].string() + "'").c_str()) != 0) return false;
  }
  TLinearBitmap left, right, truth;
  left.LoadFromFile(paths[0].string());
  right.LoadFromFile(paths[1].string());
  truth.LoadFromFile(paths[2].string());
  if (scale <= 1) {
    aloe.Left.TakeOver(left);
    aloe.Right.TakeOver(right);
  } else {
    AreaResize(left, aloe.Left, left.Width / scale, left.Height / scale);
    AreaResize(right, aloe.Right, right.Width / scale, right.Height / scale);
  }
  aloe.Truth.assign(size_t(aloe.Left.Width) * aloe.Left.Height, 0.0);
  for (int y = 0; y < aloe.Left.Height; ++y)
    for (int x = 0; x < aloe.Left.Width; ++x) {
      const int tx = std::min(truth.Width - 1, x * scale + scale / 2),
                ty = std::min(truth.Height - 1, y * scale + scale / 2);
      aloe.Truth[size_t(y) * aloe.Left.Width + x] = *truth.PixelAddress(tx, ty) / double(std::max(1, scale));
    }
  return true;
}

// `count` correct pairs from feature matching: matches the truth confirms within a
// pixel, spread over the image.
inline std::vector<PointPair> AloePairs(const TAloe& aloe, int count) {
  const std::vector<TFeatureMatch> matches = FindFeatureMatches(aloe.Left, aloe.Right, kBackgroundColor);
  std::vector<TFeatureMatch> correct;
  for (const TFeatureMatch& m : matches) {
    const int x = int(std::lround(m.X1)), y = int(std::lround(m.Y1));
    if (x < 0 || y < 0 || x >= aloe.Left.Width || y >= aloe.Left.Height) continue;
    const double d = aloe.TruthAt(x, y);
    if (d > 0 && std::fabs(m.X1 - m.X2 - d) <= 1 && std::fabs(m.Y1 - m.Y2) <= 1) correct.push_back(m);
  }
  return PointPairsFromMatches(correct, count, aloe.Left.Width, aloe.Left.Height);
}

}  // namespace sq::testsupport
