// Grey and colour-depth conversions of the Image menu.
#pragma once

#include "imaging/linear_bitmap.h"

namespace sq {

// Library conversion to a pf8bit image with the grey palette, grey level
// (2R + 3G + B + 3) div 6: a pf8bit image has its palette turned grey and its pixels
// remapped; pf24bit and pf32bit images become pf8bit; pf16bit keeps its high byte.
void ConvertToGrayscale(TLinearBitmap& bitmap);

// The "Grayscale" command: colour-palette images as ConvertToGrayscale, 24-bit
// images with the grey level (2R + 3G + B) div 6 (no rounding term); grey images are
// left alone.
void GrayscaleCommand(TLinearBitmap& bitmap);

// The "24 bit color" command: 8-bit images become pf24bit; others are left alone.
void To24BitCommand(TLinearBitmap& bitmap);

}  // namespace sq
