// Feature matches between two photographs: scale-invariant keypoints (Lowe,
// "Distinctive image features from scale-invariant keypoints", IJCV 60(2), 2004)
// kept when the best match is clearly better than the second and the two images
// agree on it.  They suggest point pairs and measure how well a warp lines up rows.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imaging/linear_bitmap.h"
#include "project/correspondence_project.h"

namespace sq {

struct TFeatureMatch {
  double X1 = 0, Y1 = 0;  // in image 1
  double X2 = 0, Y2 = 0;  // in image 2
  double Distance = 0;    // of the descriptors; smaller is surer
};

// Matches sorted by Distance, surest first.  Keypoints on pixels of the background
// colour (and next to them) are left out, so a warp's empty corners match nothing.
std::vector<TFeatureMatch> FindFeatureMatches(const TLinearBitmap& image1, const TLinearBitmap& image2,
                                              uint32_t background, double ratio = 0.7);

// How far apart the rows of matched features lie: the median and the 90th
// percentile of |Y1 - Y2|; zero for no matches.
struct TRowAlignment {
  int Count = 0;
  double Median = 0;
  double Percentile90 = 0;
};
TRowAlignment MeasureRowAlignment(std::span<const TFeatureMatch> matches);

// Up to count matches as point pairs (rounded to whole pixels), spread over the
// image: the surest match of each cell of a grid first.
std::vector<PointPair> PointPairsFromMatches(std::span<const TFeatureMatch> matches, int count, int width, int height);

}  // namespace sq
