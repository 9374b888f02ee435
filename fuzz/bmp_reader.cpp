// Feeds arbitrary bytes to the BMP reader; what it loads must survive a round trip
// through the writer.
#include <cstddef>
#include <cstdint>

#include "base/exception.h"
#include "dib_header_size.h"
#include "imaging/codecs/bmp_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sq;
  if (size > 14 && DibHeaderTooLarge(data + 14, size - 14)) return 0;
  try {
    TReadOnlyMemoryStream input(data, size);
    TLinearBitmap bitmap;
    BMPLoader().LoadFromStream(input, "BMP", bitmap);
    if (!bitmap.Present) __builtin_trap();
    if (bitmap.Size > (1 << 20)) return 0;  // keep the run fast
    TMemoryStream output;
    BMPLoader().SaveToStream(output, "BMP", bitmap);
    output.SetPosition(0);
    TLinearBitmap again;
    BMPLoader().LoadFromStream(output, "BMP", again);
    if (again.Width != bitmap.Width || again.Height != bitmap.Height) __builtin_trap();
  } catch (const Exception&) {
  }
  return 0;
}
