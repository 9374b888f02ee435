// The pixel filters of the Image and Filter menus.  Each works in place on the bytes
// of a pf8bit image or on each channel of a pf24bit image; other formats raise
// ELinearBitmap "Unsupported pixel format" (Mirror leaves them unchanged).
#pragma once

#include "imaging/linear_bitmap.h"

namespace sq {

// Every row reversed left to right.
void MirrorImage(TLinearBitmap& bitmap);

// Every byte becomes 255 minus itself.
void InvertImage(TLinearBitmap& bitmap);

// 3 x 3 convolution of the interior pixels (the outermost rows and columns keep
// their values): the weighted sum (kernel in row order from the upper left) times
// 1 / divisor, rounded, plus offset, clamped to 0..255.  The result replaces the
// pixels, or goes into target when one is given.
void Convolve3x3(TLinearBitmap& bitmap, const int (&kernel)[9], int divisor, TLinearBitmap* target = nullptr,
                 int offset = 0);

// (0 1 0 / 1 2 1 / 0 1 0) / 6.
void SmoothImage(TLinearBitmap& bitmap);

// (-1 -1 -1 / -1 16 -1 / -1 -1 -1) / 8; with lumaOnly a pf24bit image has only its
// luminance sharpened.
void SharpenImage(TLinearBitmap& bitmap, bool lumaOnly = false);

// Softens the edges of 8 x 8 compression blocks: across each block boundary a pair of
// pixels closer than 17 levels gives the pixel after the boundary their mean.
void JPEGFilter(TLinearBitmap& bitmap);

// Rebuilds the even (or odd) rows from their neighbours: the first and last rows are
// copied from the row next to them, others become the rounded mean of the rows above
// and below, with threshold > 0 only where that differs from the row by at least
// threshold.  A one-row image is left unchanged.
void Deinterlace(TLinearBitmap& bitmap, bool oddLines, int threshold = 0);

}  // namespace sq
