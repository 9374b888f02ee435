// Feeds arbitrary bytes to the PNG reader; an image it accepts must survive our
// own save and reload unchanged.
#include <cstdint>
#include <cstring>

#include "base/exception.h"
#include "imaging/codecs/png_loader.h"
#include "io/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sq;
  TPNGLoader loader;
  loader.LoadExtras = size > 0 && (data[size - 1] & 1);
  TLinearBitmap image;
  try {
    TReadOnlyMemoryStream in(data, size);
    loader.LoadFromStream(in, "PNG", image);
  } catch (const Exception&) {
    return 0;
  }
  if (image.Width * int64_t(image.Height) > 4096) return 0;
  TMemoryStream saved;
  TPNGLoader writer;
  writer.BitsPerPixel = loader.BitsPerPixel;
  writer.Filter = loader.BitsPerPixel % 5 - 2;
  writer.SaveToStream(saved, "PNG", image);
  saved.SetPosition(0);
  TLinearBitmap again;
  writer.LoadFromStream(saved, "PNG", again);
  if (again.Width != image.Width || again.Height != image.Height || again.PixelFormat != image.PixelFormat ||
      std::memcmp(again.Map, image.Map, static_cast<size_t>(image.Size)) != 0)
    __builtin_trap();
  return 0;
}
