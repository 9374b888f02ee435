// Self
#include "imaging/view_render.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace sq {

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

// Black, with blue 128 where both counters are odd: the area beyond the image.
inline uint32_t Pattern(int64_t column, int64_t row) { return kOpaque | (((column & row) & 1) ? 0x80u : 0u); }

}  // namespace

int ZoomedExtent(int size, int zoom) {
  if (zoom >= 1) return size * zoom;
  return size / -zoom;
}

void RenderImage(const TLinearBitmap& bitmap, int zoom, int scrollX, int scrollY, uint32_t* pixels, int width,
                 int height, ptrdiff_t stride) {
  if (width < 1 || height < 1) return;
  if (zoom == 0 || zoom == -1) zoom = 1;
  const bool drawable =
      bitmap.Present && (bitmap.PixelFormat == pf8bit || bitmap.PixelFormat == pf24bit) && bitmap.Map != nullptr;
  const int pixelSize = drawable ? bitmap.PixelSize : 0;

  // For each screen column, the byte offset of its source pixel in a row, or -1.
  std::vector<ptrdiff_t> columnOffset(static_cast<size_t>(width), -1);
  if (drawable) {
    for (int sx = 0; sx < width; ++sx) {
      const int64_t dx = int64_t(scrollX) + sx;
      int64_t x = zoom >= 1 ? dx / zoom : dx * -zoom;
      if (dx < 0 || dx >= ZoomedExtent(bitmap.Width, zoom)) x = -1;
      if (x >= 0 && x < bitmap.Width) columnOffset[static_cast<size_t>(sx)] = static_cast<ptrdiff_t>(x) * pixelSize;
    }
  }
  uint32_t lookup[256];
  if (drawable && bitmap.PixelFormat == pf8bit) {
    for (int i = 0; i < 256; ++i) {
      const uint8_t* entry = bitmap.Palette + 3 * i;
      lookup[i] = kOpaque | uint32_t(entry[2]) << 16 | uint32_t(entry[1]) << 8 | entry[0];
    }
  }

  int sy = 0;
  while (sy < height) {
    uint32_t* target = pixels + static_cast<ptrdiff_t>(sy) * stride;
    const int64_t dy = int64_t(scrollY) + sy;
    int64_t y = zoom >= 1 ? dy / zoom : dy * -zoom;
    if (dy < 0 || dy >= ZoomedExtent(bitmap.Height, zoom)) y = -1;
    int repeat = zoom >= 2 && dy >= 0 ? zoom - static_cast<int>(dy % zoom) : 1;
    repeat = std::min(repeat, height - sy);
    if (!drawable || y < 0 || y >= bitmap.Height) {
      for (int r = 0; r < repeat; ++r) {
        uint32_t* row = pixels + static_cast<ptrdiff_t>(sy + r) * stride;
        for (int sx = 0; sx < width; ++sx) row[sx] = Pattern(int64_t(scrollX) + sx, dy + r);
      }
      sy += repeat;
      continue;
    }
    const uint8_t* source = bitmap.ScanLine(static_cast<int>(y));
    const ptrdiff_t* offsets = columnOffset.data();
    if (bitmap.PixelFormat == pf24bit) {
      for (int sx = 0; sx < width; ++sx) {
        const ptrdiff_t at = offsets[sx];
        if (at < 0) {
          target[sx] = Pattern(int64_t(scrollX) + sx, dy);
        } else {
          const uint8_t* p = source + at;
          target[sx] = kOpaque | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        }
      }
    } else {
      for (int sx = 0; sx < width; ++sx) {
        const ptrdiff_t at = offsets[sx];
        target[sx] = at < 0 ? Pattern(int64_t(scrollX) + sx, dy) : lookup[source[at]];
      }
    }
    // Magnified rows repeat; only the pattern beyond the image depends on the row.
    for (int r = 1; r < repeat; ++r) {
      uint32_t* row = pixels + static_cast<ptrdiff_t>(sy + r) * stride;
      std::memcpy(row, target, sizeof(uint32_t) * static_cast<size_t>(width));
      if (((dy + r) & 1) != (dy & 1))
        for (int sx = 0; sx < width; ++sx)
          if (offsets[sx] < 0) row[sx] = Pattern(int64_t(scrollX) + sx, dy + r);
    }
    sy += repeat;
  }
}

}  // namespace sq
