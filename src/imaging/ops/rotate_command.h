// What the Rotate dialog computes: its starting colour and choices, and the rotation
// by a signed angle in degrees, remembered until the program ends.
#pragma once

#include <cstdint>

#include "imaging/linear_bitmap.h"

namespace sq {

struct TRotateSettings {
  double Angle = 0;  // degrees, positive = left
};
TRotateSettings& RotateSettings();

// The background colour panel's start: the first pixel's colour as 0x00BBGGRR (for
// 8-bit images the grey level equal to its index byte).
uint32_t RotateStartColor(const TLinearBitmap& bitmap);

// The dialog's start from the remembered angle: direction (right for a negative angle)
// and choice 0, 1, 2 for 90, 180, 270 degrees or 3 for a free angle.
void RotateDialogStart(double rememberedAngle, bool& right, int& choice, double& freeAngle);

// degrees / 180 * pi, negated for right; remembers the signed angle.
void RotateDegrees(TLinearBitmap& bitmap, double degrees, bool right, uint32_t backgroundColor);

}  // namespace sq
