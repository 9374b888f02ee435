// Feeds arbitrary bytes to TLinearBitmap::GetFromDIB, the reader of clipboard blocks;
// what it loads must come back unchanged through MakeDIB.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "base/exception.h"
#include "dib_header_size.h"
#include "imaging/linear_bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sq;
  if (DibHeaderTooLarge(data, size)) return 0;
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
