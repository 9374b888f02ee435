// Rotation of TLinearBitmap images: exact quarter and half turns for any pixel
// format, and the free rotation behind the Rotate command.
#pragma once

#include <cstdint>

#include "imaging/linear_bitmap.h"

namespace sq {

// Rotates by angle radians, positive = to the left (counter-clockwise on screen).
// Multiples of a quarter turn (within 0.0001) are exact; other angles sample the
// source at twice the resolution and halve, which anti-aliases the edges (colour
// palette images are sampled once, so no blended pixels appear).  Uncovered pixels
// get backgroundColor (0x00BBGGRR).  pf8bit and pf24bit; the palette is kept.
void Rotate(TLinearBitmap& bitmap, uint32_t backgroundColor, double angle);

// Counter-clockwise quarter turn: source (x, y) goes to (y, oldWidth - 1 - x).
void Rotate90(TLinearBitmap& bitmap);
void Rotate180(TLinearBitmap& bitmap);
// Clockwise quarter turn: source (x, y) goes to (oldHeight - 1 - y, x).
void Rotate270(TLinearBitmap& bitmap);

}  // namespace sq
