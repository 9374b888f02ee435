// Semi-global matching: a disparity for every pixel of image 1 from a pair whose
// rows already correspond, by the matcher of Hirschmueller ("Stereo processing by
// semiglobal matching and mutual information", IEEE PAMI 30(2), 2008) with its
// left-right check, then a fill of the pixels the check rejects from the side of
// the farther surface, as occluded pixels belong to it.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/float_map.h"
#include "imaging/linear_bitmap.h"

namespace sq {

// Disparities to search, inclusive, in the sign of the dispersion map: column in
// image 1 minus column of the match in image 2.
struct TDisparityRange {
  int Min = 0;
  int Max = 0;
};

// The range that covers the disparities of the point pairs (each x1 - x2 after the
// warp) with a margin for the parts of the scene no pair marks.  Without pairs: an
// eighth of the width either way.
TDisparityRange DisparityRangeOfPairs(std::span<const double> disparities, int width);

// Fills map (resized to image 1) with disparities found in range, to a sixteenth
// of a pixel.  Pixels the left-right check rejects take the second-lowest of the
// nearest accepted disparities in eight directions.  Pixels of image 1 that are
// background stay 0, as in the dispersion map.  The images must have equal size;
// other formats than pf24bit are read as 24-bit.
void ComputeSemiGlobalMap(const TLinearBitmap& image1, const TLinearBitmap& image2, TFloatMap& map, uint32_t background,
                          TDisparityRange range);

}  // namespace sq
