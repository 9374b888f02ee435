#include "imaging/ops/rotate_command.h"

#include <cmath>
#include <numbers>

#include "imaging/ops/rotate.h"

namespace sq {

uint32_t RotateStartColor(const TLinearBitmap& bitmap) {
  if (!bitmap.Present) return 0;
  const uint8_t* p = bitmap.Map;
  if (bitmap.PixelFormat == pf8bit || bitmap.PixelSize < 3) return p[0] | (p[0] << 8) | (uint32_t(p[0]) << 16);
  return p[2] | (p[1] << 8) | (uint32_t(p[0]) << 16);
}

void RotateDialogStart(double rememberedAngle, bool& right, int& choice, double& freeAngle) {
  right = rememberedAngle < 0;
  freeAngle = std::abs(rememberedAngle);
  if (freeAngle == 90)
    choice = 0;
  else if (freeAngle == 180)
    choice = 1;
  else if (freeAngle == 270)
    choice = 2;
  else
    choice = freeAngle == 0 ? 0 : 3;  // nothing remembered: the default 90 degrees
}

double RotateDegrees(TLinearBitmap& bitmap, double degrees, bool right, uint32_t backgroundColor) {
  const double signedDegrees = right ? -degrees : degrees;
  Rotate(bitmap, backgroundColor, signedDegrees / 180 * std::numbers::pi);
  return signedDegrees;
}

}  // namespace sq
