// Room for a reconstructed surface's arrays, tens of megabytes, before they are filled.
#pragma once

#include <cstddef>

#include "base/large_pages.h"
#include "model3d/surface_color_model.h"

namespace sq {

// Room in the model's vertex, colour and triangle arrays for the counts to come.
void ReserveSurface(TSurfaceColorModel& model, size_t vertices, size_t triangles);

}  // namespace sq
