#include "model3d/frame32.h"

#include <algorithm>

#include "base/exception.h"
#include "imaging/linear_bitmap.h"

namespace sq {

void Frame32::Fill(uint32_t color) const {
  for (int y = 0; y < Height; ++y) std::fill_n(Row(y), Width, color);
}

void TFrame32Buffer::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == frame_.Width && height == frame_.Height && frame_.Bits) return;
  if (width > 0 && height > 0) CheckImageSize(width, height, 4);
  pixels_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  frame_.Width = width;
  frame_.Height = height;
  frame_.BytesPerLine = width * 4;
  frame_.Bits = reinterpret_cast<uint8_t*>(pixels_.data());
}

Frame32 FrameOfBitmap(TLinearBitmap& bitmap) {
  if (!bitmap.Present || bitmap.PixelFormat != pf32bit) throw ELinearBitmap("Unsupported pixel format");
  Frame32 frame;
  frame.Width = bitmap.Width;
  frame.Height = bitmap.Height;
  frame.BytesPerLine = bitmap.BytesPerLine;
  frame.Bits = bitmap.Map;
  return frame;
}

void FrameToBitmap(const Frame32& frame, TLinearBitmap& bitmap) {
  if (frame.Width < 1 || frame.Height < 1 || !frame.Bits) {
    bitmap.Dispose();
    return;
  }
  bitmap.New(frame.Width, frame.Height, pf24bit);
  for (int y = 0; y < frame.Height; ++y) {
    const uint8_t* s = reinterpret_cast<const uint8_t*>(frame.Row(y));
    uint8_t* d = bitmap.ScanLine(y);
    for (int x = 0; x < frame.Width; ++x, s += 4, d += 3) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
  }
}

}  // namespace sq
