// Feeds arbitrary bytes to the BMP reader; what it loads must survive a round trip
// through the writer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "base/exception.h"
#include "imaging/codecs/bmp_loader.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"

// Header sizes above a few megapixels only cost the fuzzer time (the 1 GiB limit and
// the size checks are covered by the unit tests), so such inputs are skipped.
static bool TooLarge(const uint8_t* info, size_t size) {
  if (size < 12) return false;
  const auto get = [&](size_t at, int bytes) {
    int64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | info[at + i];
    return v;
  };
  const bool core = get(0, 4) == 12;
  int64_t width = core ? get(4, 2) : get(4, 4), height = core ? get(6, 2) : get(8, 4);
  if (!core) width = static_cast<int32_t>(width), height = static_cast<int32_t>(height);
  return std::abs(width) * std::abs(height) > (int64_t(1) << 22);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sq;
  if (size > 14 && TooLarge(data + 14, size - 14)) return 0;
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
