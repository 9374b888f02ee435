// Depth to surface: every usable pixel of image 1 becomes a vertex placed by the
// pinhole formula with the disparity, and neighbouring vertices are joined into
// triangles.  Zf plays the focal length in pixels, d an offset added to every
// disparity before the division.
#pragma once

#include <cstdint>

#include "imaging/float_map.h"
#include "imaging/linear_bitmap.h"
#include "model3d/surface_color_model.h"

namespace sq {

// Replaces the model's vertices, colours and triangles.  With t = 1 / (map + d),
// pixel (x, y) becomes ((x - cx) t, (cy - y) t, -Zf t), cx = w / 2, cy = h / 2,
// coloured with its pixel.  A pixel gets no vertex when it is background, or when
// x + round(map) leaves image 2 or lands on background in image 1.  Each 2 x 2
// block of vertices gives up to two counter-clockwise triangles.  The model is
// normalised at the end.  map + d = 0 raises EZeroDivide, leaving the model with
// what was built so far.  The images must be the map's size; other formats than
// pf24bit are read as 24-bit.
void BuildSurfaceModel(const TFloatMap& map, const TLinearBitmap& image1, const TLinearBitmap& image2,
                       uint32_t background, TSurfaceColorModel& model, double d, double zf);

// The same, one pixel after another on one thread: the plain form the tests hold
// the fast one to.
void BuildSurfaceModelReference(const TFloatMap& map, const TLinearBitmap& image1, const TLinearBitmap& image2,
                                uint32_t background, TSurfaceColorModel& model, double d, double zf);

}  // namespace sq
