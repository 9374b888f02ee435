// Feeds arbitrary container records, as a misbehaving plug-in might fill them, to the
// conversion into a bitmap.  The record's data block is exactly as large as the input
// provides, so reading past what width, height and stride promise is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/exception.h"
#include "imaging/codecs/image_dll_loader.h"
#include "imaging/linear_bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sq;
  if (size < 17) return 0;
  int32_t fields[4];
  std::memcpy(fields, data, sizeof fields);
  TImageContainer c{};
  c.Width = fields[0];
  c.Height = fields[1];
  c.BytesPerLine = fields[2];
  c.Options = fields[3];
  const bool palette = data[16] & 1;
  std::vector<uint8_t> block(data + 17, data + size);
  std::vector<uint8_t> paletteBytes(768, 0x55);
  c.Palette = palette ? paletteBytes.data() : nullptr;
  // Give the record only as much memory as it claims, when the input holds it.
  const int channels = c.Options & 15;
  const int64_t planes = (c.Options & 0x10) ? channels : 1;
  if (c.Width > 0 && c.Height > 0 && c.BytesPerLine > 0 && planes > 0 &&
      c.BytesPerLine > int64_t(block.size()) / c.Height / planes)
    return 0;
  c.Data = block.empty() ? nullptr : block.data();
  try {
    TLinearBitmap bitmap;
    ContainerToBitmap(c, bitmap);
  } catch (const Exception&) {
  }
  return 0;
}
