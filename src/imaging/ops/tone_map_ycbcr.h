// The YCbCr colour transform (Y = 0.299 R + 0.587 G + 0.114 B, Cb and Cr centred on
// 127.5) and its exact inverse, for the filters that work on luminance only.
// Every transformed value is rounded halves to even and clamped to 0..255.
#pragma once

#include "imaging/linear_bitmap.h"

namespace sq {

// A pf24bit image into three pf8bit planes Y, Cb, Cr (grey palette).
void SplitYCbCr(const TLinearBitmap& bitmap, TLinearBitmap& y, TLinearBitmap& cb, TLinearBitmap& cr);

// Three planes of one size back into a pf24bit target.
void MergeYCbCr(const TLinearBitmap& y, const TLinearBitmap& cb, const TLinearBitmap& cr, TLinearBitmap& target);

// The Y plane alone.
void ExtractLuminance(const TLinearBitmap& bitmap, TLinearBitmap& y);

// For operations that change only the luminance: adds each pixel's change newY - oldY
// to its three channels (clamped), so pixels whose luminance did not change keep their
// exact colour.  Rebuilding them from rounded 8-bit chroma instead would move even a
// grey pixel by one level.
void ShiftLuminance(TLinearBitmap& bitmap, const TLinearBitmap& oldY, const TLinearBitmap& newY);

// The affine matrices as rows (R, G, B, 1) -> (Y, Cb, Cr) and back.
const double (&YCbCrForward())[3][4];
const double (&YCbCrInverse())[3][4];

}  // namespace sq
