// The triangle loop shared by the surface drawings (internal to the renderer).
#pragma once

#include "model3d/base_3d_renderer.h"
#include "model3d/renderer_parallel.h"
#include "model3d/renderer_raster.h"

namespace sq {

// A triangle faces away when the eye sees its back: (V[a] - E) . N >= 0.
inline bool FacesAway(const T3DPoint& corner, const T3DPoint& normal, float eyeX, float eyeY, float eyeZ) {
  return (corner.X - eyeX) * normal.X + (corner.Y - eyeY) * normal.Y + (corner.Z - eyeZ) * normal.Z >= 0.0f;
}

template <bool Filled, class Draw>
void TBase3DRenderer::ForEachTriangle(const TSurfaceColorModel& model, const TSurfacePass& pass, Draw&& draw) {
  const int height = Target.Height;
  const uint32_t vertexCount = static_cast<uint32_t>(model.VertexCount);
  const T3DPoint* vertices = pass.Vertices;
  const T3DTriangle* triangles = model.Triangles.data();
  const T3DPoint* normals = pass.DrawAll ? nullptr : model.FaceNormals.data();
  const TScreenPoint* projected = Projected.data();
  const float eyeX = EyeX, eyeY = EyeY, eyeZ = ViewDistance;
  const int count = model.TriangleCount;
  RunParallel(pass.Parts, [&](int part) {
    const TRowBands bands(height, pass.Parts, part);
    for (int t = 0; t < count; ++t) {
      const uint32_t a = triangles[t][0], b = triangles[t][1], c = triangles[t][2];
      if (a >= vertexCount || b >= vertexCount || c >= vertexCount) continue;
      // Rows first: a triangle none of whose rows this thread owns draws nothing here
      // whatever the tests below decide.
      int top = projected[a].Y, bottom = top;
      top = std::min(top, std::min(projected[b].Y, projected[c].Y));
      bottom = std::max(bottom, std::max(projected[b].Y, projected[c].Y));
      if (!bands.OwnsAnyOf(top, bottom)) continue;
      if constexpr (Filled) {
        if (!raster::CoversPixels(projected[a], projected[b], projected[c], Target, bands)) continue;
      }
      if (normals && FacesAway(vertices[a], normals[t], eyeX, eyeY, eyeZ)) continue;
      // No clipping at the eye plane: only a triangle wholly behind the eye is left out.
      if (vertices[a].Z > eyeZ && vertices[b].Z > eyeZ && vertices[c].Z > eyeZ) continue;
      draw(t, a, b, c, bands);
    }
  });
}

}  // namespace sq
