#include "imaging/float_map.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"
#include "base/large_pages.h"
#include "base/rounding.h"
#include "imaging/linear_bitmap.h"

namespace sq {

void TBaseFloatMap::FreeMap() {
  block_.reset();
  Map = nullptr;
  Size = BytesPerLine = Count = 0;
  Width = Height = 0;
}

void TFloatMap::SetSize(int width, int height) {
  if (width < 1 || height < 1) {
    Dispose();
    return;
  }
  if (Map && width == Width && height == Height) return;
  const int64_t count = int64_t(width) * height;
  if (count > (int64_t(1) << 31) - 1) throw ELinearBitmap("Invalid bitmap size");
  Dispose();
  block_ = AllocateLarge<double>(static_cast<size_t>(count));
  Map = block_.get();
  Width = width;
  Height = height;
  Count = count;
  BytesPerLine = int64_t(width) * 8;
  Size = count * 8;
}

void TFloatMap::Clear() {
  if (Map) std::fill(Map, Map + Count, 0.0);
}

void TFloatMap::TakeOver(TFloatMap& other) noexcept {
  if (&other == this) return;
  block_ = std::move(other.block_);
  Map = other.Map;
  Width = other.Width;
  Height = other.Height;
  Count = other.Count;
  BytesPerLine = other.BytesPerLine;
  Size = other.Size;
  other.Map = nullptr;
  other.FreeMap();
}

void TFloatMap::Assign(const TAssignObject& source) {
  if (auto* map = dynamic_cast<const TFloatMap*>(&source)) return Assign(*map);
  if (auto* bitmap = dynamic_cast<const TLinearBitmap*>(&source)) return Assign(*bitmap);
  TBaseFloatMap::Assign(source);
}

void TFloatMap::Assign(const TFloatMap& source) {
  if (&source == this) return;
  if (!source.Map) {
    Dispose();
    return;
  }
  SetSize(source.Width, source.Height);
  std::memcpy(Map, source.Map, static_cast<size_t>(Count) * sizeof(double));
}

void TFloatMap::Assign(const TLinearBitmap& source) {
  if (!source.Present || source.Width < 1 || source.Height < 1) {
    Dispose();
    return;
  }
  SetSize(source.Width, source.Height);
  for (int y = 0; y < Height; ++y) {
    const uint8_t* in = source.ScanLine(y);
    double* out = ScanLine(y);
    switch (source.PixelFormat) {
      case pf8bit:
        for (int x = 0; x < Width; ++x) out[x] = in[x];
        break;
      case pf16bit:
        for (int x = 0; x < Width; ++x) out[x] = in[2 * x + 1];
        break;
      case pf24bit:
      case pf32bit: {
        const int step = source.PixelSize;
        for (int x = 0; x < Width; ++x, in += step) out[x] = (2 * in[2] + 3 * in[1] + in[0]) / 6;
        break;
      }
      default:
        throw ELinearBitmap("Unsupported pixel format");
    }
  }
}

void TFloatMap::AssignTo(TAssignObject& target) const {
  if (auto* bitmap = dynamic_cast<TLinearBitmap*>(&target)) return AssignTo(*bitmap);
  if (auto* map = dynamic_cast<TFloatMap*>(&target)) return map->Assign(*this);
  TBaseFloatMap::AssignTo(target);
}

void TFloatMap::AssignTo(TLinearBitmap& target) const {
  if (!Map) {
    target.Dispose();
    return;
  }
  // A freshly allocated palette holds garbage: give it the grey ramp.
  const bool hadPalette = target.Present && target.PixelFormat == pf8bit && target.Palette;
  target.New(Width, Height, pf8bit);
  if (!hadPalette) std::memcpy(target.Palette, GrayPalette(), 768);
  for (int y = 0; y < Height; ++y) {
    const double* in = ScanLine(y);
    uint8_t* out = target.ScanLine(y);
    for (int x = 0; x < Width; ++x) out[x] = RoundToByte(in[x]);
  }
}

}  // namespace sq
