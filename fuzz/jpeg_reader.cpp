// Feeds arbitrary bytes to the JPG reader; what it loads must survive a round trip
// through the writer.
#include <cstddef>
#include <cstdint>

#include "base/exception.h"
#include "imaging/codecs/jpeg_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sq;
  try {
    TReadOnlyMemoryStream input(data, size);
    TLinearBitmap bitmap;
    JPEGLoader().LoadFromStream(input, "JPG", bitmap);
    if (!bitmap.Present) __builtin_trap();
    if (bitmap.Size > (1 << 20)) return 0;  // keep the run fast
    TMemoryStream output;
    JPEGLoader().SaveToStream(output, "JPG", bitmap);
    output.SetPosition(0);
    TLinearBitmap again;
    JPEGLoader().LoadFromStream(output, "JPG", again);
    if (again.Width != bitmap.Width || again.Height != bitmap.Height) __builtin_trap();
  } catch (const Exception&) {
  }
  return 0;
}
