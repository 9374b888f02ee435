// The height field the model benchmarks share: one vertex per pixel and two
// triangles per cell, as a reconstruction makes, with some relief and colour.
#pragma once

#include <cmath>
#include <cstdint>

#include "model3d/surface_color_model.h"

inline void MakeTerrain(sq::TSurfaceColorModel& m, int w, int h) {
  m.SetVertexCount(w * h);
  m.SetTriangleCount(2 * (w - 1) * (h - 1));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double z = 20 * std::sin(x * 0.02) * std::cos(y * 0.03) + 5 * std::sin(x * 0.11 + y * 0.07) +
                       ((x * 7919 + y * 104729) % 13) * 0.05;
      m.Vertices[y * w + x] = {float(x), float(y), float(z)};
      m.Colors[y * w + x] = static_cast<uint32_t>((x & 0xFF) << 16 | (y & 0xFF) << 8 | 0x40);
    }
  int t = 0;
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x + 1 < w; ++x) {
      const uint32_t a = y * w + x, b = a + 1, c = a + w, d = c + 1;
      m.Triangles[t++] = {a, c, b};
      m.Triangles[t++] = {b, c, d};
    }
}
