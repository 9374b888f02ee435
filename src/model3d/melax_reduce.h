// Polygon reduction by edge collapse after Stan Melax, "A Simple, Fast, and
// Effective Polygon Reduction Algorithm", Game Developer, November 1998.
#pragma once

#include "model3d/surface_color_model.h"

namespace sq {

// Collapses vertices, cheapest first, until at most maxVertices remain, then rebuilds
// the model in place: surviving vertices keep their order, colour and (for a
// TTextureModel) texture coordinate, surviving triangles keep their order.
// Vertices that no triangle uses go first.  Triangles with a repeated corner have
// no area and are dropped.  Progress is reported as the share of collapses done.
// Raises "Invalid point in face list: n" for a corner outside the vertex range.
void MelaxReduce(TSurfaceColorModel& model, int maxVertices);

}  // namespace sq
