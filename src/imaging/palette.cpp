#include "imaging/palette.h"

#include <bit>
#include <cstring>
#include <vector>

#include "base/exception.h"
#include "base/parallel.h"

namespace sq {

namespace {

uint32_t ColorKey(const uint8_t* p) { return p[0] | (p[1] << 8) | (uint32_t(p[2]) << 16); }

// Remembers the nearest entry of recently seen colours; a miss searches the palette.
// The answer per colour never changes, so the cache only saves time.
class TNearestCache {
 public:
  explicit TNearestCache(const uint8_t* palette) : palette_(palette), keys_(kSlots, kEmpty), values_(kSlots) {}
  uint8_t Find(uint32_t key) {
    const uint32_t slot = (key * 2654435761u) >> (32 - kBits);
    if (keys_[slot] != key) {
      keys_[slot] = key;
      values_[slot] =
          static_cast<uint8_t>(NearestPaletteEntry(palette_, key & 0xFF, (key >> 8) & 0xFF, (key >> 16) & 0xFF));
    }
    return values_[slot];
  }

 private:
  static constexpr int kBits = 16;
  static constexpr uint32_t kSlots = 1u << kBits;
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;  // no 24-bit key looks like this
  const uint8_t* palette_;
  std::vector<uint32_t> keys_;
  std::vector<uint8_t> values_;
};

}  // namespace

int NearestPaletteEntry(const uint8_t* palette, int blue, int green, int red) {
  int best = 0;
  int bestDistance = 0x7FFFFFFF;
  for (int i = 0; i < 256; ++i) {
    const int db = palette[3 * i] - blue, dg = palette[3 * i + 1] - green, dr = palette[3 * i + 2] - red;
    const int distance = db * db + dg * dg + dr * dr;
    if (distance < bestDistance) {
      best = i;
      bestDistance = distance;
      if (distance == 0) break;
    }
  }
  return best;
}

int64_t CountColors(const TLinearBitmap& bitmap) {
  if (!bitmap.Present) return 0;
  const int w = bitmap.Width;
  if (bitmap.PixelFormat == pf24bit || bitmap.PixelFormat == pf32bit) {
    std::vector<uint64_t> seen(size_t(1) << 18);  // 2^24 bits
    const int step = bitmap.PixelSize;
    for (int y = 0; y < bitmap.Height; ++y) {
      const uint8_t* p = bitmap.ScanLine(y);
      for (int x = 0; x < w; ++x, p += step) {
        const uint32_t key = ColorKey(p);
        seen[key >> 6] |= uint64_t(1) << (key & 63);
      }
    }
    int64_t count = 0;
    for (const uint64_t word : seen) count += std::popcount(word);
    return count;
  }
  const bool wide = bitmap.PixelFormat == pf16bit;
  std::vector<uint8_t> seen(wide ? 65536 : 256);
  for (int y = 0; y < bitmap.Height; ++y) {
    const uint8_t* p = bitmap.ScanLine(y);
    for (int x = 0; x < w; ++x) seen[wide ? (p[2 * x] | (p[2 * x + 1] << 8)) : p[x]] = 1;
  }
  int64_t count = 0;
  for (const uint8_t flag : seen) count += flag;
  return count;
}

void ConvertToPalette(TLinearBitmap& bitmap, const uint8_t* palette) {
  if (!bitmap.Present) return;
  if (bitmap.PixelFormat == pf16bit || bitmap.PixelFormat == pf32bit) bitmap.SetPixelFormat(pf24bit);

  if (bitmap.PixelFormat == pf8bit) {
    if (!palette || std::memcmp(palette, bitmap.Palette, 768) == 0) return;
    uint8_t table[256];
    for (int i = 0; i < 256; ++i) {
      const uint8_t* entry = bitmap.Palette + 3 * i;
      table[i] = static_cast<uint8_t>(NearestPaletteEntry(palette, entry[0], entry[1], entry[2]));
    }
    for (int y = 0; y < bitmap.Height; ++y) {
      uint8_t* row = bitmap.ScanLine(y);
      for (int x = 0; x < bitmap.Width; ++x) row[x] = table[row[x]];
    }
    std::memmove(bitmap.Palette, palette, 768);
    return;
  }
  if (bitmap.PixelFormat != pf24bit) throw ELinearBitmap("Unsupported pixel format");

  uint8_t colors[768] = {};
  if (palette) {
    std::memcpy(colors, palette, 768);
  } else {
    // The first 256 distinct colours in pixel order.
    std::vector<uint64_t> seen(size_t(1) << 18);
    int found = 0;
    for (int y = 0; y < bitmap.Height && found < 256; ++y) {
      const uint8_t* p = bitmap.ScanLine(y);
      for (int x = 0; x < bitmap.Width && found < 256; ++x, p += 3) {
        const uint32_t key = ColorKey(p);
        uint64_t& word = seen[key >> 6];
        const uint64_t bit = uint64_t(1) << (key & 63);
        if (word & bit) continue;
        word |= bit;
        std::memcpy(colors + 3 * found++, p, 3);
      }
    }
  }
  TLinearBitmap result(bitmap.Width, bitmap.Height, pf8bit);
  std::memcpy(result.Palette, colors, 768);
  std::vector<TNearestCache> caches(WorkerCount(), TNearestCache(colors));
  ForEachRow(bitmap.Height, bitmap.Width * 4, true, [&](int y, int worker) {
    const uint8_t* p = bitmap.ScanLine(y);
    uint8_t* out = result.ScanLine(y);
    TNearestCache& cache = caches[worker];
    for (int x = 0; x < bitmap.Width; ++x, p += 3) out[x] = cache.Find(ColorKey(p));
  });
  bitmap.TakeOver(result);
}

}  // namespace sq
