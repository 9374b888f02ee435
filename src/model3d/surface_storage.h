// Room for large model arrays before they are filled.  The arrays of a reconstructed
// surface run to tens of megabytes, and every 4 KiB page of fresh memory costs the
// kernel a fault when it is first touched; large pages make that one fault per 2 MiB.
#pragma once

#include <cstddef>
#include <vector>

#include "model3d/surface_color_model.h"

namespace sq {

// Asks the kernel to back the whole large pages inside [data, data + bytes) with
// large pages when they are first touched.  Only a hint: nothing changes when the
// system does not take it.
void AdviseLargePages(void* data, size_t bytes);

// Reserves capacity for count items and gives the new storage the advice above.
template <class T>
void ReserveLarge(std::vector<T>& items, size_t count) {
  if (items.capacity() >= count) return;
  items.reserve(count);
  AdviseLargePages(items.data(), count * sizeof(T));
}

// Room in the model's vertex, colour and triangle arrays for the counts to come.
void ReserveSurface(TSurfaceColorModel& model, size_t vertices, size_t triangles);

}  // namespace sq
