#include "recon/surface_builder.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <vector>

#include "base/exception.h"
#include "base/parallel.h"
#include "base/progress.h"
#include "model3d/surface_storage.h"
#include "recon/warp_bitmap.h"

namespace sq {

namespace {

// The checks both builders begin with; image 1 as 24 bits (converted when it is not).
const TLinearBitmap* CheckedImage1(const TFloatMap& map, const TLinearBitmap& image1, const TLinearBitmap& image2,
                                   TLinearBitmap& converted) {
  if (!image1.Present || !image2.Present || map.Width != image1.Width || map.Height != image1.Height ||
      image2.Width != image1.Width || image2.Height != image1.Height)
    throw Exception("The dispersion map does not fit the images");
  if (2 * (int64_t(map.Width) * map.Height) > std::numeric_limits<int32_t>::max())
    throw Exception("The image is too large for a model");
  if (image1.PixelFormat == pf24bit) return &image1;
  converted.Assign(image1);
  converted.SetPixelFormat(pf24bit);
  return &converted;
}

// Whether pixel x of a row (its pixels and disparities) gets a vertex, before the
// division: background, or a partner column outside the image or on background.
inline bool Usable(const uint8_t* row, const double* disparity, int x, int w, uint32_t background) {
  if (PixelValue(row + 3 * x) == background) return false;
  const double x2 = x + std::nearbyint(disparity[x]);
  if (!(x2 >= 0 && x2 < w)) return false;
  // The partner column is looked up in image 1, as the shape of the models made so
  // far depends on it.
  return PixelValue(row + 3 * static_cast<int>(x2)) != background;
}

}  // namespace

void BuildSurfaceModelReference(const TFloatMap& map, const TLinearBitmap& image1, const TLinearBitmap& image2,
                                uint32_t background, TSurfaceColorModel& model, double d, double zf) {
  TLinearBitmap converted;
  const TLinearBitmap* im1 = CheckedImage1(map, image1, image2, converted);
  const int w = map.Width, h = map.Height;
  const int64_t pixels = int64_t(w) * h;

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
      if (!Usable(row, disparity, x, w, background)) continue;
      const uint32_t color = PixelValue(row + 3 * x);
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

// The same model built on every core: a first pass finds the usable pixels and
// counts each row's vertices and triangles, so that every row then knows where its
// vertices and triangles go.  A pixel where the division fails sends the whole build
// to the one-row-after-another loop, which leaves the partial model as it always has.
void BuildSurfaceModel(const TFloatMap& map, const TLinearBitmap& image1, const TLinearBitmap& image2,
                       uint32_t background, TSurfaceColorModel& model, double d, double zf) {
  TLinearBitmap converted;
  const TLinearBitmap* im1 = CheckedImage1(map, image1, image2, converted);
  const int w = map.Width, h = map.Height;
  const int64_t pixels = int64_t(w) * h;
  const int cx = w / 2, cy = h / 2;

  // Pass 1: usable pixels and vertex counts per row; any pixel whose vertex would
  // fail ends the fast path.
  std::vector<uint8_t> usable(static_cast<size_t>(pixels));
  std::vector<int32_t> vertexStart(static_cast<size_t>(h) + 1, 0), triangleStart(static_cast<size_t>(h) + 1, 0);
  std::atomic<bool> failing{false};
  ForEachRow(h, 4 * int64_t(w), false, [&](int y, int) {
    const uint8_t* row = im1->ScanLine(y);
    const double* disparity = map.ScanLine(y);
    uint8_t* flags = usable.data() + size_t(y) * w;
    int32_t count = 0;
    for (int x = 0; x < w; ++x) {
      flags[x] = Usable(row, disparity, x, w, background);
      if (!flags[x]) continue;
      ++count;
      const double t = 1.0 / (disparity[x] + d);
      if (!std::isfinite(t) || !std::isfinite(static_cast<float>((x - cx) * t)) ||
          !std::isfinite(static_cast<float>((cy - y) * t)) || !std::isfinite(static_cast<float>(-zf * t)))
        failing.store(true, std::memory_order_relaxed);
    }
    vertexStart[size_t(y) + 1] = count;
  });
  if (failing.load()) return BuildSurfaceModelReference(map, image1, image2, background, model, d, zf);
  // Triangles of a row join it to the row above: (x, y) with its neighbours up-left,
  // up and left.
  ForEachRow(h, 2 * int64_t(w), false, [&](int y, int) {
    if (y == 0) return;
    const uint8_t* here = usable.data() + size_t(y) * w;
    const uint8_t* above = here - w;
    int32_t count = 0;
    for (int x = 1; x < w; ++x)
      if (here[x] && above[x - 1]) count += above[x] + here[x - 1];
    triangleStart[size_t(y) + 1] = count;
  });
  for (int y = 0; y < h; ++y) {
    vertexStart[size_t(y) + 1] += vertexStart[size_t(y)];
    triangleStart[size_t(y) + 1] += triangleStart[size_t(y)];
  }

  // Pass 2: every row writes its own vertices and triangles.
  model.SetVertexCount(0);
  model.SetTriangleCount(0);
  ReserveSurface(model, static_cast<size_t>(vertexStart[size_t(h)]), static_cast<size_t>(triangleStart[size_t(h)]));
  model.SetVertexCount(vertexStart[size_t(h)]);
  model.SetTriangleCount(triangleStart[size_t(h)]);
  ForEachRow(h, 8 * int64_t(w), true, [&](int y, int) {
    const uint8_t* row = im1->ScanLine(y);
    const double* disparity = map.ScanLine(y);
    const uint8_t* here = usable.data() + size_t(y) * w;
    const uint8_t* above = y > 0 ? here - w : nullptr;
    int32_t nv = vertexStart[size_t(y)], nt = triangleStart[size_t(y)];
    // Vertex indexes of (x - 1, y - 1), (x, y - 1) and (x - 1, y), or -1.
    int32_t upNext = y > 0 ? vertexStart[size_t(y) - 1] : 0;
    int32_t upLeft = -1, left = -1;
    for (int x = 0; x < w; ++x) {
      int32_t up = -1;
      if (above && above[x]) up = upNext++;
      if (here[x]) {
        const double t = 1.0 / (disparity[x] + d);
        T3DPoint& v = model.Vertices[static_cast<size_t>(nv)];
        v.X = static_cast<float>((x - cx) * t);
        v.Y = static_cast<float>((cy - y) * t);
        v.Z = static_cast<float>(-zf * t);
        model.Colors[static_cast<size_t>(nv)] = PixelValue(row + 3 * x);
        if (x > 0 && upLeft >= 0) {
          if (up >= 0) model.Triangles[static_cast<size_t>(nt++)] = {uint32_t(nv), uint32_t(up), uint32_t(upLeft)};
          if (left >= 0) model.Triangles[static_cast<size_t>(nt++)] = {uint32_t(nv), uint32_t(upLeft), uint32_t(left)};
        }
        left = nv++;
      } else {
        left = -1;
      }
      upLeft = up;
    }
  });
  model.Normalize();
}

}  // namespace sq
