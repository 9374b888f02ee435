// Feeds arbitrary bytes to TLinearBitmap::GetFromDIB, the reader of clipboard blocks;
// what it loads must come back unchanged through MakeDIB.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "base/exception.h"
#include "imaging/linear_bitmap.h"

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
  if (TooLarge(data, size)) return 0;
  try {
    TLinearBitmap bitmap;
    bitmap.GetFromDIB(std::span<const uint8_t>(data, size));
    if (!bitmap.Present) __builtin_trap();
    TLinearBitmap again;
    again.GetFromDIB(bitmap.MakeDIB());
    if (again.PixelFormat != bitmap.PixelFormat || again.Size != bitmap.Size ||
        std::memcmp(again.Map, bitmap.Map, static_cast<size_t>(bitmap.Size)) != 0)
      __builtin_trap();
  } catch (const Exception&) {
  }
  return 0;
}
