// The dispersion map: for each pixel of image 1 the horizontal distance to its match
// in the same row of image 2, found row by row by dynamic programming over an
// order-keeping matching that may leave pixels of either row unmatched at a fixed
// price (the classic scanline stereo matching of Ohta and Kanade, "Stereo by intra-
// and inter-scanline search using dynamic programming", IEEE PAMI 7, 1985).
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/float_map.h"
#include "imaging/linear_bitmap.h"

namespace sq {

// The span of a 24-bit row that is not background: on entry first = 0 and last =
// the last column; on return the first and last column whose pixel value differs
// from background, or last = first - 1 when the whole row is background.
void FindRowSpan(const uint8_t* row, int& first, int& last, uint32_t background);

// Fills map (resized to image 1) with disparities: column in image 1 minus column of
// the match in image 2, 0 where a row holds no image data.  A colour difference
// costs |delta| / (3 spread) per channel, an unmatched pixel costs occlusion.  The
// images must have equal size; pixels of other formats are read as 24-bit.  Spread
// 0 raises EZeroDivide before the map is touched.
void ComputeDispersionMap(const TLinearBitmap& image1, const TLinearBitmap& image2, TFloatMap& map, uint32_t background,
                          double spread, double occlusion);

// For tests and benchmarks: the same computation with a chosen inner loop and
// number of threads.  Every kernel gives the same bits, in the map and in the
// price of each row's best matching (NaN for rows without image data), which
// rowPrices receives when given.
enum class TDispersionKernel { Auto, Scalar, Avx2 };
bool DispersionKernelAvailable(TDispersionKernel kernel);
void ComputeDispersionMapWith(const TLinearBitmap& image1, const TLinearBitmap& image2, TFloatMap& map,
                              uint32_t background, double spread, double occlusion, TDispersionKernel kernel,
                              int workers, std::vector<double>* rowPrices = nullptr);

}  // namespace sq
