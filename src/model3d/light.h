// The light routines a model's LightFunction may hold, and PackColor, which turns a
// lit colour triple into a frame pixel.
// LightStandard, which every new model starts with, is declared with the model.
#pragma once

#include <cmath>
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

// The routines' arithmetic, for loops that light many colours with one routine.
namespace light_detail {

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

// LightStandard: g = min(f, 1), NaN kept as it is.
inline void Standard(uint32_t color, TRGBSingle& rgb, float intensity, float) {
  Scale(color, rgb, 1.0f < intensity ? 1.0f : intensity);
}

inline void Shiny(uint32_t color, TRGBSingle& rgb, float intensity, float) {
  const float g = intensity < 1.0f ? intensity : 1.0f;
  Scale(color, rgb, g);
  Highlight(rgb, g);
}

inline void StandardAmbient(uint32_t color, TRGBSingle& rgb, float intensity, float ambient) {
  float g = intensity + ambient;
  if (g > 1.0f) g = 1.0f;
  Scale(color, rgb, g);
}

inline void ShinyAmbient(uint32_t color, TRGBSingle& rgb, float intensity, float ambient) {
  float g = intensity;
  if (g < ambient) g = ambient;
  if (g > 1.0f) g = 1.0f;
  Scale(color, rgb, g);
  Highlight(rgb, g);
}

// Calls f with a callable lighting as light does: the routine's inline arithmetic
// when it is one of the above, so that loops over many colours need no call each.
template <class F>
void WithLightRoutine(TLightFunction light, F&& f) {
  if (light == LightStandard)
    f([](uint32_t color, TRGBSingle& rgb, float intensity, float ambient) {
      Standard(color, rgb, intensity, ambient);
    });
  else if (light == LightShiny)
    f([](uint32_t color, TRGBSingle& rgb, float intensity, float ambient) { Shiny(color, rgb, intensity, ambient); });
  else if (light == LightStandardAmbient)
    f([](uint32_t color, TRGBSingle& rgb, float intensity, float ambient) {
      StandardAmbient(color, rgb, intensity, ambient);
    });
  else if (light == LightShinyAmbient)
    f([](uint32_t color, TRGBSingle& rgb, float intensity, float ambient) {
      ShinyAmbient(color, rgb, intensity, ambient);
    });
  else
    f(light);
}

}  // namespace light_detail

}  // namespace sq
