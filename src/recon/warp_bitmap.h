// Resampling of image 2 through the fitted transform, and the crop of both images to
// the area they share, after which pixel (x, y) of both stands for the same place.
#pragma once

#include <cstdint>

#include "imaging/linear_bitmap.h"
#include "recon/point_transform.h"

namespace sq {

// Marks pixels without image data: magenta, bytes blue 0xFF, green 0, red 0xFF.
// Pixel values in this layer are 0x00RRGGBB, the bytes of a 24-bit pixel read as
// blue | green << 8 | red << 16.
constexpr uint32_t kBackgroundColor = 0xFF00FF;

// Destinations larger than this on either side are refused.
constexpr int kMaxWarpSize = 6000;

struct TIntPoint {
  int X = 0;
  int Y = 0;
};

struct TCommonArea {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
};

// The 24-bit pixel value of a blue-green-red pixel.
inline uint32_t PixelValue(const uint8_t* p) { return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16); }

// Resamples source through transform into destination, which is resized to the
// bounding box of the mapped source corners, or with autoCrop to the box of the
// second-smallest and second-largest corner coordinates.  origin receives the
// position of the destination's top-left pixel in the transform's target frame.
// Uncovered pixels get fillColor.  pf24bit and grey pf8bit sources are resampled as
// they are, pf16bit ones as 24-bit; others raise "Unsupported pixel format".
// A destination over kMaxWarpSize raises "Invalid transformation"; an empty one
// (a source one pixel wide or high) leaves destination empty.
void WarpBitmap(const TLinearBitmap& source, TLinearBitmap& destination, const PointTransform& transform,
                TIntPoint& origin, uint32_t fillColor, bool autoCrop);

// Cuts image 1 and the warped image 2 (placed at origin in image 1's frame) to the
// rectangle both cover.  result2 takes over warped's pixels.  Returns the rectangle
// in image-1 coordinates; raises when the two do not overlap, leaving the results
// untouched.
TCommonArea CropToCommonArea(const TLinearBitmap& image1, TLinearBitmap& warped, TIntPoint origin, uint32_t fillColor,
                             TLinearBitmap& result1, TLinearBitmap& result2);

}  // namespace sq
