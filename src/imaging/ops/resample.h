// Resampling of TLinearBitmap images: the smart resize behind the Resize command's
// default method and the open dialog's preview, and the plain methods it picks from.
// Every operation writes into target; when target is the source itself the result
// is built aside and taken over.  Sizes below 1 dispose the target.
#pragma once

#include "imaging/linear_bitmap.h"

namespace sq {

// In place: SmartResize, nothing when the size is unchanged.
void Resize(TLinearBitmap& bitmap, int width, int height);

// Picks a method from the formats and the scale factors (pf8bit, pf16bit, pf24bit):
// pixel copy for colour-palette images, bilinear for mixed or small changes and for
// 16-bit grey, 2 x 2 mean for exact halves, linear doubling for exact doubles, box
// average for reductions below one half.
void SmartResize(const TLinearBitmap& source, TLinearBitmap& target, int width, int height);

// Nearest neighbour by truncation; any pixel format.  The palette is copied.
void PixelResize(const TLinearBitmap& source, int width, int height, TLinearBitmap& target);

// 2 x 2 box mean with rounding into Width div 2 x Height div 2 (an odd last row or
// column is dropped).
void HalfSize(const TLinearBitmap& source, TLinearBitmap& target);

// Linear doubling: target (2x + 1, 2y + 1) is source (x, y), pixels between two
// source pixels their rounded mean, between four likewise; the first row and column
// repeat the edge.
void DoubleSize(const TLinearBitmap& source, TLinearBitmap& target);

// Box average into the target's present size (meant for reductions below one half).
void AreaResize(const TLinearBitmap& source, TLinearBitmap& target);
void AreaResize(const TLinearBitmap& source, TLinearBitmap& target, int width, int height);

// Bilinear interpolation into the target's present size; pf8bit, pf16bit and
// pf24bit, others raise ELinearBitmap "Unsupported pixel format".
void BilinearResize(const TLinearBitmap& source, TLinearBitmap& target);
void BilinearResize(const TLinearBitmap& source, TLinearBitmap& target, int width, int height);

// A pf24bit image into three pf8bit planes with the grey palette (blue, green, red)
// and back.  The planes must share one size.
void SplitColorPlanes(const TLinearBitmap& bitmap, TLinearBitmap& plane0, TLinearBitmap& plane1, TLinearBitmap& plane2);
void MergeColorPlanes(const TLinearBitmap& plane0, const TLinearBitmap& plane1, const TLinearBitmap& plane2,
                      TLinearBitmap& target);

}  // namespace sq
