// What the Resize dialog computes: its method list and the method applied by index
// (the dialog remembers the last method itself).
#pragma once

#include <vector>

#include "imaging/linear_bitmap.h"

namespace sq {

enum TResizeMethod { rmBilinear, rmLowPass, rmPixel, rmSpline, rmSinc };

// "Bilinear interpolation", "Low pass filter", "Pixel resize", "Spline", "sinc".
const char* ResizeMethodName(int method);

// The methods the list offers: only Pixel resize for colour-palette images.
std::vector<int> ResizeMethods(const TLinearBitmap& bitmap);

// Applies a method in place; a 1 x 1 image always uses Pixel resize, an unchanged size
// does nothing, an unknown method raises "Resampling method not implemented".
void ApplyResizeMethod(TLinearBitmap& bitmap, int width, int height, int method);

}  // namespace sq
