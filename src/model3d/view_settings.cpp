#include "model3d/view_settings.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "base/exception.h"
#include "model3d/light.h"
#include "model3d/stereo_3d_renderer.h"
#include "model3d/surface_color_model.h"
#include "model3d/texture_model.h"

namespace sq {

namespace {

// Platform colour 0x00BBGGRR to frame colour 0x00RRGGBB.
uint32_t SwapRedBlue(uint32_t color) { return ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF); }

T3DMatrix ScaleMatrix(double scale) {
  T3DMatrix m = IdentityMatrix();
  m[0][0] = m[1][1] = m[2][2] = scale;
  return m;
}

}  // namespace

T3DMatrix IdentityMatrix() {
  T3DMatrix m{};
  for (int i = 0; i < 4; ++i) m[i][i] = 1.0;
  return m;
}

T3DMatrix RotationX(double angle) {
  T3DMatrix m = IdentityMatrix();
  const double c = std::cos(angle), s = std::sin(angle);
  m[1][1] = c;
  m[1][2] = -s;
  m[2][1] = s;
  m[2][2] = c;
  return m;
}

T3DMatrix RotationY(double angle) {
  T3DMatrix m = IdentityMatrix();
  const double c = std::cos(angle), s = std::sin(angle);
  m[0][0] = c;
  m[0][2] = s;
  m[2][0] = -s;
  m[2][2] = c;
  return m;
}

T3DMatrix MultiplyMatrix(const T3DMatrix& a, const T3DMatrix& m) {
  T3DMatrix result{};
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 4; ++column)
      result[row][column] =
          a[row][0] * m[0][column] + a[row][1] * m[1][column] + a[row][2] * m[2][column] + a[row][3] * m[3][column];
  result[3] = {0.0, 0.0, 0.0, 1.0};
  return result;
}

T3DPoint TViewSettings::DefaultLightVector() {
  const double length = std::sqrt(0.2 * 0.2 + 0.3 * 0.3 + 1.0);
  return T3DPoint{static_cast<float>(0.2 / length), static_cast<float>(0.3 / length), static_cast<float>(1.0 / length)};
}

void TViewSettings::ChooseReflection(TReflection reflection) {
  Reflection = reflection;
  AmbientInLightRoutine = AmbientLight != 0.0f && Lighting();
}

void TViewSettings::SetAmbientLight(float level) {
  AmbientLight = level;
  AmbientInLightRoutine = AmbientLight != 0.0f && Lighting();
}

void TViewSettings::Rotate(double aboutX, double aboutY) {
  Rotation = MultiplyMatrix(RotationX(aboutX), Rotation);
  Rotation = MultiplyMatrix(RotationY(aboutY), Rotation);
}

void TViewSettings::ResetView() {
  Rotation = IdentityMatrix();
  ShiftX = ShiftY = ShiftZ = 0;
  Zoom = 100.0;
}

TLightFunction LightRoutine(const TViewSettings& settings) {
  const bool shiny = settings.Reflection == TReflection::Shiny;
  if (settings.AmbientInLightRoutine) return shiny ? LightShinyAmbient : LightStandardAmbient;
  return shiny ? LightShiny : LightStandard;
}

void ApplyViewSettings(const TViewSettings& settings, TBase3DModel& model) {
  model.RenderMode = settings.RenderMode;
  auto* surface = dynamic_cast<TSurfaceColorModel*>(&model);
  if (!surface) return;
  surface->AmbientLight = settings.AmbientLight;
  surface->ShowBackSides = settings.ShowBackSides;
  surface->UseNormals = settings.Lighting() || !settings.ShowBackSides;
  surface->Shading = settings.Lighting();
  if (!surface->Shading) surface->VertexLight.clear();
  surface->LightFunction = LightRoutine(settings);
}

T3DMatrix ViewMatrix(const TViewSettings& settings) {
  T3DMatrix m = MultiplyMatrix(settings.Rotation, ScaleMatrix(settings.Zoom));
  m[0][3] += settings.ShiftX;
  m[1][3] -= settings.ShiftY;
  m[2][3] += settings.ShiftZ;
  return m;
}

std::unique_ptr<TBase3DRenderer> MakeRenderer(const TViewSettings& settings) {
  std::unique_ptr<TBase3DRenderer> renderer;
  if (settings.Stereo)
    renderer = std::make_unique<TStereo3DRenderer>(6.5, 35.0, 32.0, settings.ScreenWidthPixels);
  else
    renderer = std::make_unique<TBase3DRenderer>();
  renderer->LightDirection = settings.LightVector;
  return renderer;
}

void MakeLampModel(TSurfaceColorModel& lamp) {
  static constexpr std::array<TLathePoint, 7> profile{
      {{22, 0}, {10, 15}, {10, 15}, {20, 15}, {20, 50}, {16, 48}, {0, 48}}};
  static constexpr std::array<uint32_t, 7> colors{0xFFFFFF, 0xFFFFFF, 0xC0C0C0, 0xC0C0C0, 0xC0C0C0, 0x808080, 0x808080};
  lamp.MakeLathe(profile, colors, 10);
  lamp.Normalize();
  lamp.TransformVertices(RotationX(std::numbers::pi / 2));
  lamp.UseNormals = true;
  lamp.Shading = true;
}

std::unique_ptr<TTextureModel> OpenModelFile(const std::string& fileName, TViewSettings& settings,
                                             std::string* loadError) {
  auto model = std::make_unique<TTextureModel>();
  model->SetFileFormat(fileName);
  if (loadError) loadError->clear();
  try {
    model->LoadFromFile(fileName);
  } catch (const Exception& e) {
    if (!loadError) throw EInOutError(std::string("Error loading model: ") + e.what());
    *loadError = e.what();
  }
  model->Normalize();
  model->UseNormals = model->ShowBackSides = model->Shading = true;
  // The viewer checks "Standard" for a lit model; a new model has the plain routine.
  settings.ShowBackSides = true;
  settings.Reflection = TReflection::Standard;
  settings.AmbientInLightRoutine = false;
  settings.RenderMode = model->RenderMode;
  if (!model->Texture.Present) {
    model->Texture.New(2, 1, pf24bit);
    model->Texture.ClearColor(settings.ModelColor);
    std::fill(model->TexCoords.begin(), model->TexCoords.end(), TTexCoord{0.0f, 0.0f});
    settings.RenderMode = rmGouraud;
    settings.AmbientLight = 0.0f;
  }
  ApplyViewSettings(settings, *model);
  return model;
}

void RenderView(TBase3DRenderer& renderer, TBase3DModel& model, const TViewSettings& settings, const Frame32& frame,
                TBase3DModel* lamp, bool quick) {
  frame.Fill(SwapRedBlue(settings.BackgroundColor));
  renderer.LightDirection = settings.LightVector;
  renderer.BeginFrame(frame);
  const T3DMatrix view = ViewMatrix(settings);
  {
    // Quick drawings (while dragging) show points only.
    const uint32_t mode = model.RenderMode;
    if (quick) model.RenderMode = rmPoints;
    try {
      renderer.RenderModel(model, &view);
    } catch (...) {
      model.RenderMode = mode;
      throw;
    }
    model.RenderMode = mode;
  }
  if (settings.LightDrag && lamp) {
    // The lamp sits on a sphere of radius HalfSize around the model's centre,
    // pointing along the light, and is lit from the front.
    const double halfSize = std::min(frame.Width, frame.Height) / 2.0;
    const T3DPoint& l = settings.LightVector;
    T3DMatrix m = ScaleMatrix(0.1 * halfSize);
    m[2][3] += halfSize;
    m = MultiplyMatrix(RotationX(-std::atan(double(l.Y) / l.Z)), m);
    m = MultiplyMatrix(RotationY(std::atan(double(l.X) / l.Z)), m);
    renderer.LightDirection = T3DPoint{0.0f, 0.0f, 1.0f};
    try {
      renderer.RenderModel(*lamp, &m);
    } catch (...) {
      renderer.LightDirection = settings.LightVector;
      throw;
    }
    renderer.LightDirection = settings.LightVector;
  }
  renderer.EndFrame();
}

}  // namespace sq
