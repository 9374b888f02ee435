#include "recon/surface_builder.h"

#include <cmath>
#include <limits>
#include <vector>

#include "base/exception.h"
#include "base/progress.h"
#include "recon/warp_bitmap.h"

namespace sq {

void BuildSurfaceModel(const TFloatMap& map, const TLinearBitmap& image1, const TLinearBitmap& image2,
                       uint32_t background, TSurfaceColorModel& model, double d, double zf) {
  if (!image1.Present || !image2.Present || map.Width != image1.Width || map.Height != image1.Height ||
      image2.Width != image1.Width || image2.Height != image1.Height)
    throw Exception("The dispersion map does not fit the images");
  TLinearBitmap converted;
  const TLinearBitmap* im1 = &image1;
  if (image1.PixelFormat != pf24bit) {
    converted.Assign(image1);
    converted.SetPixelFormat(pf24bit);
    im1 = &converted;
  }
  const int w = map.Width, h = map.Height;
  const int64_t pixels = int64_t(w) * h;
  if (2 * pixels > std::numeric_limits<int32_t>::max()) throw Exception("The image is too large for a model");

  // Step 1: room for the largest possible model, so nothing grows in the loop.
  const int cx = w / 2, cy = h / 2;
  model.SetVertexCount(static_cast<int>(pixels));
  model.SetTriangleCount(static_cast<int>(2 * pixels));
  int32_t nv = 0, nt = 0;
  // Vertex index of each pixel of the previous and the current row; -1 for none.
  std::vector<int32_t> previous(static_cast<size_t>(w), -1), current(static_cast<size_t>(w), -1);

  // Step 2: one vertex per usable pixel, triangles back to the row above.
  for (int y = 0; y < h; ++y) {
    std::fill(current.begin(), current.end(), -1);
    const uint8_t* row = im1->ScanLine(y);
    const double* disparity = map.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const uint32_t color = PixelValue(row + 3 * x);
      if (color == background) continue;
      const double x2 = x + std::nearbyint(disparity[x]);
      if (!(x2 >= 0 && x2 < w)) continue;
      // The partner column is looked up in image 1, as the shape of the models
      // made so far depends on it.
      if (PixelValue(row + 3 * static_cast<int>(x2)) == background) continue;
      const double sum = disparity[x] + d;
      if (sum == 0.0) {
        model.SetVertexCount(nv);
        model.SetTriangleCount(nt);
        throw EZeroDivide();
      }
      const double t = 1.0 / sum;
      T3DPoint& v = model.Vertices[static_cast<size_t>(nv)];
      v.X = static_cast<float>((x - cx) * t);
      v.Y = static_cast<float>((cy - y) * t);
      v.Z = static_cast<float>(-zf * t);
      if (!std::isfinite(v.X) || !std::isfinite(v.Y) || !std::isfinite(v.Z)) {
        model.SetVertexCount(nv);
        model.SetTriangleCount(nt);
        throw EOverflow();
      }
      model.Colors[static_cast<size_t>(nv)] = color;
      current[static_cast<size_t>(x)] = nv;
      if (x > 0 && y > 0) {
        const int32_t upLeft = previous[static_cast<size_t>(x - 1)];
        if (upLeft >= 0) {
          const int32_t up = previous[static_cast<size_t>(x)], left = current[static_cast<size_t>(x - 1)];
          if (up >= 0) model.Triangles[static_cast<size_t>(nt++)] = {uint32_t(nv), uint32_t(up), uint32_t(upLeft)};
          if (left >= 0) model.Triangles[static_cast<size_t>(nt++)] = {uint32_t(nv), uint32_t(upLeft), uint32_t(left)};
        }
      }
      ++nv;
    }
    std::swap(previous, current);
    ReportRowProgress(y, h);
  }

  // Step 3: the real counts, then remove position and scale.
  model.SetVertexCount(nv);
  model.SetTriangleCount(nt);
  model.Normalize();
}

}  // namespace sq
