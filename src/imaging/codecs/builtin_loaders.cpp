// The formats compiled into the program, registered in their search order.  The
// registry calls this once on first use, so no static registration object can be
// dropped by the linker.  Metafiles are not among them: there is no renderer for
// them on this platform.
#include "imaging/codecs/bitmap_loader.h"
#include "imaging/codecs/bmp_loader.h"
#include "imaging/codecs/gif_loader.h"
#include "imaging/codecs/jpeg_loader.h"
#include "imaging/codecs/pcx_loader.h"
#include "imaging/codecs/png_loader.h"

namespace sq {

void RegisterBuiltinLoaders(TBitmapLoaders& registry) {
  registry.RegisterLoader(PCXLoader());
  registry.RegisterLoader(JPEGLoader());
  registry.RegisterLoader(BMPLoader());
  registry.RegisterLoader(PNGLoader());
  registry.RegisterLoader(GIFLoader());
}

}  // namespace sq
