// What the Resize dialog computes: its method list and the method applied by index
// (the dialog remembers the last method itself).
#pragma once

#include <vector>

#include "imaging/linear_bitmap.h"

namespace sq {

// In the order of the dialog's list.
enum class TResizeMethod { Bilinear, LowPass, Pixel, Spline, Sinc };

// "Bilinear interpolation", "Low pass filter", "Pixel resize", "Spline", "sinc".
const char* ResizeMethodName(TResizeMethod method);

// The methods the list offers: only Pixel resize for colour-palette images.
std::vector<TResizeMethod> ResizeMethods(const TLinearBitmap& bitmap);

// Applies a method in place; a 1 x 1 image always uses Pixel resize, an unchanged size
// does nothing, a value outside the list (a list index cast to the type) raises
// "Resampling method not implemented".
void ApplyResizeMethod(TLinearBitmap& bitmap, int width, int height, TResizeMethod method);

}  // namespace sq
