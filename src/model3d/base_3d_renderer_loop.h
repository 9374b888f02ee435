// The triangle loop shared by the surface drawings (internal to the renderer).
#pragma once

#include <algorithm>

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

  // Whether triangle t may draw in the rows of bands, and the rows it spans: every
  // test is a pure rejection, so their order changes nothing but the time they take.
  auto candidate = [&](int t, const TRowBands& bands, int& top, int& bottom) {
    const uint32_t a = triangles[t][0], b = triangles[t][1], c = triangles[t][2];
    if (a >= vertexCount || b >= vertexCount || c >= vertexCount) return false;
    top = std::min({projected[a].Y, projected[b].Y, projected[c].Y});
    bottom = std::max({projected[a].Y, projected[b].Y, projected[c].Y});
    if (!bands.OwnsAnyOf(top, bottom)) return false;
    if constexpr (Filled) {
      if (!raster::CoversPixels(projected[a], projected[b], projected[c], Target, bands)) return false;
    }
    if (normals && FacesAway(vertices[a], normals[t], eyeX, eyeY, eyeZ)) return false;
    // No clipping at the eye plane: only a triangle wholly behind the eye is left out.
    return !(vertices[a].Z > eyeZ && vertices[b].Z > eyeZ && vertices[c].Z > eyeZ);
  };

  if (pass.Parts <= 1) {
    const TRowBands bands(height, 1, 0);
    int top, bottom;
    for (int t = 0; t < count; ++t)
      if (candidate(t, bands, top, bottom)) draw(t, triangles[t][0], triangles[t][1], triangles[t][2], bands);
    return;
  }
  // With several threads the tests run once per triangle, shared out by ranges of
  // triangles, and each survivor goes to the list of every thread owning one of its
  // rows; then each thread draws its lists in range order, which is array order.
  const int parts = pass.Parts;
  if (bins_.size() < static_cast<size_t>(parts * parts)) bins_.resize(static_cast<size_t>(parts * parts));
  ForEachRow(
      parts, parts,
      [&](int range, int) {
        const int64_t begin = int64_t(count) * range / parts, end = int64_t(count) * (range + 1) / parts;
        std::vector<uint32_t>* bins = &bins_[static_cast<size_t>(range * parts)];
        for (int part = 0; part < parts; ++part) bins[part].clear();
        const TRowBands allRows(height, 1, 0);
        int top, bottom;
        for (int64_t t = begin; t < end; ++t) {
          if (!candidate(static_cast<int>(t), allRows, top, bottom)) continue;
          for (int part = 0; part < parts; ++part)
            if (TRowBands(height, parts, part).OwnsAnyOf(top, bottom)) bins[part].push_back(static_cast<uint32_t>(t));
        }
      },
      false);
  ForEachRow(
      parts, parts,
      [&](int part, int) {
        const TRowBands bands(height, parts, part);
        for (int range = 0; range < parts; ++range)
          for (const uint32_t t : bins_[static_cast<size_t>(range * parts + part)])
            draw(static_cast<int>(t), triangles[t][0], triangles[t][1], triangles[t][2], bands);
      },
      false);
}

}  // namespace sq
