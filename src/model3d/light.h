// The light routines a model's LightFunction may hold, and PackColor, which turns a
// lit colour triple into a frame pixel.
// LightStandard, which every new model starts with, is declared with the model.
#pragma once

#include <cstdint>

#include "model3d/surface_color_model.h"

namespace sq {

// As LightStandard, and above an intensity of 0.95 the colour blends towards white,
// reaching it at 1.
void LightShiny(uint32_t color, TRGBSingle& rgb, float intensity, float ambient = 0.0f);
// g = min(f + ambient, 1); (R g, G g, B g).
void LightStandardAmbient(uint32_t color, TRGBSingle& rgb, float intensity, float ambient);
// The intensity kept within ambient .. 1, then lit as LightShiny.
void LightShinyAmbient(uint32_t color, TRGBSingle& rgb, float intensity, float ambient);

// Each channel rounded to the nearest integer (halves to even) and kept within
// 0..255; red into bits 16-23, green 8-15, blue 0-7.
uint32_t PackColor(const TRGBSingle& rgb);

}  // namespace sq
