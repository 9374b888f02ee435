#include "model3d/surface_storage.h"

#include <sys/mman.h>

#include <cstdint>

namespace sq {

void AdviseLargePages(void* data, size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kLargePage = uintptr_t(2) << 20;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kLargePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

void ReserveSurface(TSurfaceColorModel& model, size_t vertices, size_t triangles) {
  ReserveLarge(model.Vertices, vertices);
  ReserveLarge(model.Colors, vertices);
  ReserveLarge(model.Triangles, triangles);
}

}  // namespace sq
