// Colour counting and reduction to a 256-entry palette (the metafile loader's and
// the GIF writer's way from 24 bits to 8).
#pragma once

#include <cstdint>

#include "imaging/linear_bitmap.h"

namespace sq {

// Distinct colours: exact for pf24bit and pf32bit (the first three bytes), distinct
// index bytes for pf8bit, distinct samples for pf16bit.  0 for an empty bitmap.
int64_t CountColors(const TLinearBitmap& bitmap);

// To pf8bit with palette (768 bytes blue, green, red) or, without one, the first 256
// distinct colours in pixel order (remaining entries black).  Each pixel takes the
// nearest entry by squared RGB distance, the first of equals.  A pf8bit image with a
// different palette is remapped onto the new one; pf16bit and pf32bit images are
// first converted to pf24bit.
void ConvertToPalette(TLinearBitmap& bitmap, const uint8_t* palette = nullptr);

// Index of the palette entry nearest to (blue, green, red).
int NearestPaletteEntry(const uint8_t* palette, int blue, int green, int red);

}  // namespace sq
