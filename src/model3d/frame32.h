// Frame32: the 32-bit picture the renderer draws into.  Pixels are the bytes blue,
// green, red, 0, so a pixel read as an unsigned 32-bit value is 0x00RRGGBB.  The
// frame does not own its pixels: it may point into a display surface, a bitmap or a
// TFrame32Buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sq {

class TLinearBitmap;

// Keeps its established name, without the T prefix.
struct Frame32 {
  int Width = 0;
  int Height = 0;
  int BytesPerLine = 0;     // distance between row starts
  uint8_t* Bits = nullptr;  // row 0, the top row

  uint32_t* Row(int y) const { return reinterpret_cast<uint32_t*>(Bits + static_cast<ptrdiff_t>(y) * BytesPerLine); }
  // color is 0x00RRGGBB.
  void Fill(uint32_t color) const;
};

// A frame that owns its pixels; the stereo renderer's eye pictures and off-screen
// renders use it.
class TFrame32Buffer {
 public:
  TFrame32Buffer() = default;
  TFrame32Buffer(int width, int height) { SetSize(width, height); }
  TFrame32Buffer(const TFrame32Buffer&) = delete;
  TFrame32Buffer& operator=(const TFrame32Buffer&) = delete;

  // Reallocates when the size changes; the pixels are then undefined.
  void SetSize(int width, int height);
  const Frame32& Frame() const { return frame_; }
  Frame32& Frame() { return frame_; }

 private:
  std::vector<uint32_t> pixels_;
  Frame32 frame_;
};

// A frame over the pixels of a pf32bit bitmap (the bitmap keeps owning them).
Frame32 FrameOfBitmap(TLinearBitmap& bitmap);

// Copies a frame into a new pf24bit bitmap (for saving and the clipboard).
void FrameToBitmap(const Frame32& frame, TLinearBitmap& bitmap);

}  // namespace sq
