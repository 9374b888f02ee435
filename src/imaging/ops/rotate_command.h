// What the Rotate dialog computes: its starting colour and choices, and the rotation
// by a signed angle in degrees (which the dialog remembers for its next use).
#pragma once

#include <cstdint>

#include "imaging/linear_bitmap.h"

namespace sq {

// The background colour panel's start: the first pixel's colour as 0x00BBGGRR (for
// 8-bit images the grey level equal to its index byte).
uint32_t RotateStartColor(const TLinearBitmap& bitmap);

// The dialog's start from the remembered angle: direction (right for a negative angle)
// and choice 0, 1, 2 for 90, 180, 270 degrees or 3 for a free angle.
void RotateDialogStart(double rememberedAngle, bool& right, int& choice, double& freeAngle);

// degrees / 180 * pi, negated for right; returns the signed angle in degrees
// (positive = left), which the dialog starts from next time.
double RotateDegrees(TLinearBitmap& bitmap, double degrees, bool right, uint32_t backgroundColor);

}  // namespace sq
