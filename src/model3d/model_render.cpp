// How each model class is drawn: its RenderMode picks one of the renderer's drawing
// procedures.  A mode a class cannot show raises "Unknown renderer" before anything
// is drawn.
#include "base/exception.h"
#include "model3d/base_3d_model.h"
#include "model3d/base_3d_renderer.h"
#include "model3d/color_point_3d_model.h"
#include "model3d/surface_color_model.h"
#include "model3d/texture_model.h"

namespace sq {

namespace {
[[noreturn]] void UnknownRenderer() { throw Exception("Unknown renderer"); }
}  // namespace

void TBase3DModel::Render(TBase3DRenderer& renderer, const T3DPoint* vertices) {
  switch (RenderMode) {
    case rmDefault:
    case rmPoints:
      return renderer.DrawPoints(*this, vertices);
    default:
      UnknownRenderer();
  }
}

void TColorPoint3DModel::Render(TBase3DRenderer& renderer, const T3DPoint* vertices) {
  switch (RenderMode) {
    case rmDefault:
    case rmColorBlocks:
      return renderer.DrawColorBlocks(*this, vertices);
    case rmPoints:
      return renderer.DrawPoints(*this, vertices);
    default:
      UnknownRenderer();
  }
}

void TSurfaceColorModel::Render(TBase3DRenderer& renderer, const T3DPoint* vertices) {
  switch (RenderMode) {
    case rmDefault:
    case rmGouraud:
      return renderer.DrawGouraud(*this, vertices);
    case rmPoints:
      return renderer.DrawPoints(*this, vertices);
    case rmColorBlocks:
      return renderer.DrawColorBlocks(*this, vertices);
    case rmWireframe:
      return renderer.DrawWireframe(*this, vertices);
    case rmFlat:
      return renderer.DrawFlat(*this, vertices);
    default:
      UnknownRenderer();
  }
}

void TTextureModel::Render(TBase3DRenderer& renderer, const T3DPoint* vertices) {
  switch (RenderMode) {
    case rmDefault:
    case rmTexture:
      return renderer.DrawTexture(*this, vertices);
    case rmGouraudTexture:
      return renderer.DrawGouraudTexture(*this, vertices);
    default:
      // Every other mode draws as the plain surface does.
      return TSurfaceColorModel::Render(renderer, vertices);
  }
}

}  // namespace sq
