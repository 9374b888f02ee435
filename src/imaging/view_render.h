// Drawing the visible part of an image at an integer zoom into a 32-bit pixel buffer
// (0xFFRRGGBB words, the layout of a 32-bit screen image).  The document windows call
// it for every repaint, so it allocates nothing per pixel and walks raw rows.
//
// Zoom z >= 1 shows each image pixel as z x z screen pixels; z <= -2 shows every |z|-th
// pixel (plain subsampling).  Screen pixels beyond the zoomed image get a dark pattern.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/linear_bitmap.h"

namespace sq {

// Size of the zoomed image along one axis: z * size for z >= 1, size div |z| otherwise.
int ZoomedExtent(int size, int zoom);

// Fills width x height words (rows stride words apart) with the view whose top-left
// corner sits at (scrollX, scrollY) in zoomed coordinates: screen pixel (sx, sy) shows
// image pixel ((scrollX + sx) div z, ...) for z >= 1, or ((scrollX + sx) * |z|, ...)
// for z <= -2.  Any sub-rectangle of a view can so be drawn on its own.  Only pf8bit
// (through its palette) and pf24bit images are drawn; other formats show the pattern.
void RenderImage(const TLinearBitmap& bitmap, int zoom, int scrollX, int scrollY, uint32_t* pixels, int width,
                 int height, ptrdiff_t stride);

}  // namespace sq
