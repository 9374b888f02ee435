// Feeds arbitrary bytes to the PCX reader; what it loads must survive a round trip
// through the writer.
#include <cstddef>
#include <cstdint>

#include "base/exception.h"
#include "imaging/codecs/pcx_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sq;
  try {
    TReadOnlyMemoryStream input(data, size);
    TLinearBitmap bitmap;
    PCXLoader().LoadFromStream(input, "PCX", bitmap);
    if (!bitmap.Present) __builtin_trap();
    if (bitmap.Size > (1 << 20)) return 0;  // keep the run fast
    TMemoryStream output;
    PCXLoader().SaveToStream(output, "PCX", bitmap);
    output.SetPosition(0);
    TLinearBitmap again;
    PCXLoader().LoadFromStream(output, "PCX", again);
    if (again.Width != bitmap.Width || again.Height != bitmap.Height) __builtin_trap();
  } catch (const Exception&) {
  }
  return 0;
}
