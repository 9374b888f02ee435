// What the 3D viewer's state is — panel size, render mode, reflection, ambient
// level, rotation, zoom, shift, back sides, stereo, background, light vector — with
// the viewer's defaults, and the one drawing routine both the desktop viewer and the
// command line call, so that the command line draws exactly the viewer's picture.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "model3d/base_3d_model.h"
#include "model3d/base_3d_renderer.h"
#include "model3d/frame32.h"

namespace sq {

class TSurfaceColorModel;
class TTextureModel;

// The "Surface reflection" choice.
enum class TReflection { None, Standard, Shiny };

T3DMatrix IdentityMatrix();
// Rows (1, 0, 0), (0, cos a, -sin a), (0, sin a, cos a).
T3DMatrix RotationX(double angle);
// Rows (cos a, 0, sin a), (0, 1, 0), (-sin a, 0, cos a).
T3DMatrix RotationY(double angle);
// a x m over the first three rows; the last row stays (0, 0, 0, 1).
T3DMatrix MultiplyMatrix(const T3DMatrix& a, const T3DMatrix& m);

struct TViewSettings {
  // The display panel at the viewer's default window size (441 x 458 less the tool bar).
  int Width = 441;
  int Height = 413;
  uint32_t RenderMode = rmDefault;
  TReflection Reflection = TReflection::Standard;
  float AmbientLight = 0.3f;
  // Whether the model's light routine adds the ambient level.  A model starts with
  // the plain routine; the reflection and ambient commands choose the ambient one
  // when the level is not 0 and a reflection is on.
  bool AmbientInLightRoutine = false;
  bool ShowBackSides = true;
  bool Stereo = false;
  T3DMatrix Rotation = IdentityMatrix();
  double Zoom = 100.0;
  int ShiftX = 0;
  int ShiftY = 0;
  int ShiftZ = 0;
  uint32_t BackgroundColor = 64;   // platform colour 0x00BBGGRR: dark red
  uint32_t ModelColor = 0x00FF00;  // platform colour given to untextured models
  T3DPoint LightVector = DefaultLightVector();
  // Width of the screen in pixels; sets the stereo renderer's eye geometry.
  int ScreenWidthPixels = 1920;
  // The light is being dragged: the lamp is drawn where the light comes from.
  bool LightDrag = false;

  static T3DPoint DefaultLightVector();

  // The viewer's commands, with the viewer's side effects on the light routine.
  void ChooseReflection(TReflection reflection);
  void SetAmbientLight(float level);
  // A drag step: about the x axis, then about the y axis (radians).
  void Rotate(double aboutX, double aboutY);
  void ResetView();
  bool Lighting() const { return Reflection != TReflection::None; }
};

// The light routine the settings give a surface model.
TLightFunction LightRoutine(const TViewSettings& settings);

// Hands the settings to the model (render mode, back sides, lighting, ambient
// level), as the viewer's menu commands do.
void ApplyViewSettings(const TViewSettings& settings, TBase3DModel& model);

// scale(Zoom), then Rotation, then the shift (ShiftX, -ShiftY, ShiftZ).
T3DMatrix ViewMatrix(const TViewSettings& settings);

// The plain renderer, or the stereo renderer with the viewer's eye geometry (eye
// separation 6.5, viewing distance 35, screen width 32), looking along LightVector.
std::unique_ptr<TBase3DRenderer> MakeRenderer(const TViewSettings& settings);

// The small lamp shown while the light is dragged.
void MakeLampModel(TSurfaceColorModel& lamp);

// Opens a model file as the viewer does: a TTextureModel, normalised, back sides
// shown and lit; without a texture it gets a 2 x 1 texture of ModelColor, the
// Gouraud mode and no ambient light.  The settings follow the new model.  A load
// error raises "Error loading model: " + the reason, unless loadError is given: then
// the reason goes there and the model keeps what was read (the viewer shows it).
std::unique_ptr<TTextureModel> OpenModelFile(const std::string& fileName, TViewSettings& settings,
                                             std::string* loadError = nullptr);

// Clears frame to the background and draws the model with the settings (which
// must have been applied to it); quick draws points only.  With LightDrag and a
// lamp, the lamp is drawn too.
void RenderView(TBase3DRenderer& renderer, TBase3DModel& model, const TViewSettings& settings, const Frame32& frame,
                TBase3DModel* lamp = nullptr, bool quick = false);

}  // namespace sq
