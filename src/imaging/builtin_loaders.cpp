// The formats compiled into the program, registered in their search order.  The
// registry calls this once on first use, so no static registration object can be
// dropped by the linker.  Metafiles are not among them: there is no renderer for
// them on this platform.
#include "imaging/bitmap_loader.h"
#include "imaging/bmp_loader.h"
#include "imaging/gif_loader.h"
#include "imaging/jpeg_loader.h"
#include "imaging/pcx_loader.h"
#include "imaging/png_loader.h"

namespace sq {

void RegisterBuiltinLoaders(TBitmapLoaders& registry) {
  registry.RegisterLoader(PCXLoader());
  registry.RegisterLoader(JPEGLoader());
  registry.RegisterLoader(BMPLoader());
  registry.RegisterLoader(PNGLoader());
  registry.RegisterLoader(GIFLoader());
}

}  // namespace sq
