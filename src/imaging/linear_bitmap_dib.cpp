// Exchange of TLinearBitmap with packed device-independent bitmaps (clipboard blocks).
#include <cstring>

#include "base/exception.h"
#include "imaging/codecs/dib_decoder.h"
#include "imaging/linear_bitmap.h"
#include "io/memory_stream.h"

namespace sq {

std::vector<uint8_t> TLinearBitmap::MakeDIB() const {
  if (!Present || (PixelFormat != pf8bit && PixelFormat != pf24bit)) return {};
  const int bits = PixelFormat == pf8bit ? 8 : 24;
  const int64_t stride = (int64_t(Width) * PixelSize + 3) & ~int64_t(3);
  const int64_t headerSize = 40 + (bits == 8 ? 1024 : 0);
  std::vector<uint8_t> dib(static_cast<size_t>(headerSize + stride * Height), 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) dib[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, 40);
  put32(4, static_cast<uint32_t>(Width));
  put32(8, static_cast<uint32_t>(Height));
  dib[12] = 1;
  dib[14] = static_cast<uint8_t>(bits);
  put32(20, static_cast<uint32_t>(stride * Height));
  if (bits == 8) {
    put32(32, 256);
    put32(36, 256);
    for (int i = 0; i < 256; ++i) std::memcpy(&dib[40 + 4 * i], Palette + 3 * i, 3);
  }
  for (int y = 0; y < Height; ++y)
    std::memcpy(&dib[static_cast<size_t>(headerSize + stride * (Height - 1 - y))], ScanLine(y), BytesPerLine);
  return dib;
}

// The block comes from outside (the clipboard), so every size in its header is checked
// against the block's length.  Depths below 8 bits come out as 24-bit images, as a
// platform bitmap converted for display would.  A damaged block leaves this bitmap
// as it was.
void TLinearBitmap::GetFromDIB(std::span<const uint8_t> dib) {
  TReadOnlyMemoryStream stream(dib);
  TLinearBitmap result;
  try {
    ReadDIB(stream, -1, static_cast<int64_t>(dib.size()), result, true);
  } catch (const EInOutError&) {
    throw ELinearBitmap("Error in bitmap data");
  }
  TakeOver(result);
}

}  // namespace sq
