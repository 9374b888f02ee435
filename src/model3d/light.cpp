#include "model3d/light.h"

#include "base/rounding.h"

namespace sq {

void LightShiny(uint32_t color, TRGBSingle& rgb, float intensity, float ambient) {
  light_detail::Shiny(color, rgb, intensity, ambient);
}

void LightStandardAmbient(uint32_t color, TRGBSingle& rgb, float intensity, float ambient) {
  light_detail::StandardAmbient(color, rgb, intensity, ambient);
}

void LightShinyAmbient(uint32_t color, TRGBSingle& rgb, float intensity, float ambient) {
  light_detail::ShinyAmbient(color, rgb, intensity, ambient);
}

uint32_t PackColor(const TRGBSingle& rgb) {
  return (uint32_t(RoundToByte(rgb.R)) << 16) | (uint32_t(RoundToByte(rgb.G)) << 8) | RoundToByte(rgb.B);
}

}  // namespace sq
