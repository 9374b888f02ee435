// Feeds arbitrary bytes to the GIF reader; what it loads must survive a round trip
// through the writer.
#include <cstddef>
#include <cstdint>

#include "base/exception.h"
#include "imaging/codecs/gif_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sq;
  // Screens above a few megapixels only cost the fuzzer time; the 1 GiB limit is
  // covered by the unit tests.
  if (size >= 10 && int64_t(data[6] | (data[7] << 8)) * (data[8] | (data[9] << 8)) > (int64_t(1) << 22)) return 0;
  try {
    TReadOnlyMemoryStream input(data, size);
    TLinearBitmap bitmap;
    GIFLoader().LoadFromStream(input, "GIF", bitmap);
    if (!bitmap.Present) __builtin_trap();
    if (bitmap.Size > (1 << 20)) return 0;  // keep the run fast
    TMemoryStream output;
    GIFLoader().SaveToStream(output, "GIF", bitmap);
    output.SetPosition(0);
    TLinearBitmap again;
    GIFLoader().LoadFromStream(output, "GIF", again);
    if (again.Width != bitmap.Width || again.Height != bitmap.Height) __builtin_trap();
  } catch (const Exception&) {
  }
  return 0;
}
