#include "model3d/light.h"

#include <cmath>

#include "base/rounding.h"

namespace sq {

namespace {

inline void Scale(uint32_t color, TRGBSingle& rgb, float g) {
  rgb.R = static_cast<float>((color >> 16) & 0xFF) * g;
  rgb.G = static_cast<float>((color >> 8) & 0xFF) * g;
  rgb.B = static_cast<float>(color & 0xFF) * g;
}

// Above 0.95 the channels move towards 255 along sqrt((1 - g) * 20), which is 1 at
// 0.95 (no change, so the highlight starts without a visible step) and 0 at 1.
inline void Highlight(TRGBSingle& rgb, float g) {
  if (!(g > 0.95f)) return;
  const float k = std::sqrt((1.0f - g) * 20.0f);
  rgb.R = 255.0f - (255.0f - rgb.R) * k;
  rgb.G = 255.0f - (255.0f - rgb.G) * k;
  rgb.B = 255.0f - (255.0f - rgb.B) * k;
}

}  // namespace

void LightShiny(uint32_t color, TRGBSingle& rgb, float intensity, float) {
  const float g = intensity < 1.0f ? intensity : 1.0f;
  Scale(color, rgb, g);
  Highlight(rgb, g);
}

void LightStandardAmbient(uint32_t color, TRGBSingle& rgb, float intensity, float ambient) {
  float g = intensity + ambient;
  if (g > 1.0f) g = 1.0f;
  Scale(color, rgb, g);
}

void LightShinyAmbient(uint32_t color, TRGBSingle& rgb, float intensity, float ambient) {
  float g = intensity;
  if (g < ambient) g = ambient;
  if (g > 1.0f) g = 1.0f;
  Scale(color, rgb, g);
  Highlight(rgb, g);
}

uint32_t PackColor(const TRGBSingle& rgb) {
  return (uint32_t(RoundToByte(rgb.R)) << 16) | (uint32_t(RoundToByte(rgb.G)) << 8) | RoundToByte(rgb.B);
}

}  // namespace sq
