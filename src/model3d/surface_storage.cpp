#include "model3d/surface_storage.h"

namespace sq {

void ReserveSurface(TSurfaceColorModel& model, size_t vertices, size_t triangles) {
  ReserveLarge(model.Vertices, vertices);
  ReserveLarge(model.Colors, vertices);
  ReserveLarge(model.Triangles, triangles);
}

}  // namespace sq
